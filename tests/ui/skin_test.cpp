// The skin package as the program uses it: read from this executable's "ZIPRES" 141 resource, markup
// built into controls, options, images, drawing, list rows and setters called from worker threads.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <vector>

#include "ui/UIlib.h"

using namespace DuiLib;

namespace {

bool LoadOwnSkin() {
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC res = FindResourceW(self, MAKEINTRESOURCEW(141), L"ZIPRES");
  if (res == nullptr) return false;
  const void* data = LockResource(LoadResource(self, res));
  return CPaintManagerUI::SetResourceZip(data, SizeofResource(self, res));
}

class Recorder : public INotifyUI {
 public:
  void Notify(TNotifyUI& msg) override { seen.push_back(msg.sType + L":" + (msg.pSender ? msg.pSender->GetName() : L"")); }
  std::vector<std::wstring> seen;
};

class SkinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadOwnSkin());
    CDialogBuilder builder;
    root = builder.Create(L"MainFrame1.xml", nullptr, &pm);
    ASSERT_NE(root, nullptr) << builder.GetLastErrorText();
    ASSERT_TRUE(pm.AttachDialog(root));
    pm.AddNotifier(&recorder);
    pm.LayoutNow(400, 300);
  }
  template <typename T>
  T* Find(const wchar_t* name) {
    return dynamic_cast<T*>(pm.FindControl(name));
  }
  CPaintManagerUI pm;
  CControlUI* root = nullptr;
  Recorder recorder;
};

// Reads one pixel of a 32-bit top-down DIB as 0xRRGGBB.
uint32_t Pixel(const void* bits, int width, int x, int y) {
  return static_cast<const uint32_t*>(bits)[y * width + x] & 0xFFFFFFu;
}

}  // namespace

TEST(SkinArchive, EntriesAreFoundWhateverTheSlashOrCase) {
  ASSERT_TRUE(LoadOwnSkin());
  std::string bytes;
  EXPECT_TRUE(CPaintManagerUI::LoadSkinFile(L"res\\dot.png", bytes));
  EXPECT_GT(bytes.size(), 8u);
  EXPECT_TRUE(CPaintManagerUI::LoadSkinFile(L"RES/DOT.PNG", bytes));
  EXPECT_TRUE(CPaintManagerUI::LoadSkinFile(L".\\anim.gif", bytes));
  EXPECT_FALSE(CPaintManagerUI::LoadSkinFile(L"nothere.png", bytes));
}

TEST(SkinArchive, BytesThatAreNoArchiveLeaveTheArchiveUnset) {
  const char junk[] = "PK\x03\x04 this is not really a zip archive";
  EXPECT_FALSE(CPaintManagerUI::SetResourceZip(junk, sizeof(junk)));
  EXPECT_FALSE(CPaintManagerUI::HasResourceZip());
  std::string bytes;
  EXPECT_FALSE(CPaintManagerUI::LoadSkinFile(L"MainFrame1.xml", bytes));
  CDialogBuilder builder;
  EXPECT_EQ(builder.Create(L"MainFrame1.xml"), nullptr);
  EXPECT_FALSE(CPaintManagerUI::SetResourceZip(nullptr, 0));
}

TEST(Markup, NotWellFormedMarkupBuildsNothing) {
  CDialogBuilder builder;
  EXPECT_EQ(builder.CreateFromBytes("<Window><VerticalLayout></Window>"), nullptr);
  EXPECT_FALSE(builder.GetLastErrorText().empty());
  EXPECT_EQ(builder.CreateFromBytes(""), nullptr);
  EXPECT_EQ(builder.CreateFromBytes("<Window><Font name=\"x\" /></Window>"), nullptr);  // no control
}

TEST_F(SkinTest, WindowValuesFontsAndDefaults) {
  EXPECT_EQ(pm.GetInitSize(), UiSize(400, 300));
  EXPECT_EQ(pm.GetCaptionRect(), UiRect(0, 0, 0, 40));
  EXPECT_EQ(pm.GetMinInfo(), UiSize(400, 280));
  EXPECT_EQ(pm.GetRoundCorner(), UiSize(2, 2));
  ASSERT_EQ(pm.GetFontCount(), 2);
  EXPECT_EQ(pm.GetFontSpec(1).face, L"微软雅黑");
  EXPECT_TRUE(pm.GetFontSpec(1).bold);
  EXPECT_EQ(pm.GetFontSpec(0).size, 12);
  EXPECT_EQ(pm.GetFontSpec(-1).face, L"SimSun");  // the default font
  // The Default element's list applies to every Button before its own attributes.
  EXPECT_EQ(Find<CButtonUI>(L"btnclose")->GetTextColor(), 0xFF112233u);
}

TEST_F(SkinTest, AttributeValuesReachTheControls) {
  EXPECT_EQ(Find<CLabelUI>(L"labtitle")->GetText(), L"标题 & <测试>");  // entities, UTF-8 with BOM
  EXPECT_EQ(Find<CLabelUI>(L"labtitle")->GetFont(), 1);
  EXPECT_EQ(Find<CControlUI>(L"labtitle")->GetPadding(), UiRect(10, 0, 0, 0));
  EXPECT_EQ(Find<CButtonUI>(L"btnclose")->GetToolTip(), L"关闭");
  EXPECT_EQ(Find<CControlUI>(L"btnfloat")->GetFloatPos(), UiRect(300, 5, 330, 35));
  EXPECT_TRUE(Find<CControlUI>(L"btnfloat")->IsFloat());
  EXPECT_TRUE(Find<CEditUI>(L"editpath")->IsReadOnly());
  EXPECT_EQ(Find<CEditUI>(L"editpath")->GetText(), L"C:\\VRLN");
  EXPECT_TRUE(Find<CButtonUI>(L"btnrich")->IsShowHtml());
  EXPECT_EQ(Find<CWebBrowserUI>(L"webie")->GetHomePage(), L"http://127.0.0.1:1/");
  EXPECT_EQ(Find<CControlUI>(L"header")->GetBkImage(), L"file='res\\dot.png' corner='1,1,1,1'");
  EXPECT_EQ(pm.FindControl(L"nosuchcontrol"), nullptr);
  // Code applies attribute lists the same way.
  CControlUI* lab = pm.FindControl(L"labtitle");
  lab->ApplyAttributeList(L"bkimage=\"file='res\\dot.png' dest='2,2,23,20' source='0,0,21,18'\" text=\" 云引擎连接成功，云模式\"");
  EXPECT_EQ(lab->GetBkImage(), L"file='res\\dot.png' dest='2,2,23,20' source='0,0,21,18'");
  EXPECT_EQ(lab->GetText(), L" 云引擎连接成功，云模式");
}

TEST_F(SkinTest, GroupedOptionsAreExclusiveAndCheckBoxesIndependent) {
  auto* a = Find<COptionUI>(L"opta");
  auto* b = Find<COptionUI>(L"optb");
  auto* c = Find<COptionUI>(L"optc");
  auto* one = Find<COptionUI>(L"chk1");
  auto* two = Find<COptionUI>(L"chk2");
  EXPECT_TRUE(a->IsSelected());
  EXPECT_TRUE(b->Activate());
  EXPECT_FALSE(a->IsSelected());
  EXPECT_TRUE(b->IsSelected());
  EXPECT_FALSE(c->IsSelected());
  EXPECT_TRUE(b->Activate());  // a grouped option stays selected when clicked again
  EXPECT_TRUE(b->IsSelected());
  EXPECT_TRUE(one->Activate());
  EXPECT_TRUE(two->Activate());
  EXPECT_TRUE(one->IsSelected());
  EXPECT_TRUE(two->IsSelected());
  EXPECT_TRUE(b->IsSelected());  // check boxes leave the group alone
  EXPECT_TRUE(one->Activate());
  EXPECT_FALSE(one->IsSelected());
  EXPECT_TRUE(two->IsSelected());
  std::vector<std::wstring> expected = {L"click:optb", L"selectchanged:optb", L"selectchanged:opta",
                                        L"click:optb", L"click:chk1", L"selectchanged:chk1",
                                        L"click:chk2", L"selectchanged:chk2", L"click:chk1",
                                        L"selectchanged:chk1"};
  EXPECT_EQ(recorder.seen, expected);
}

TEST_F(SkinTest, DisabledControlsDoNotAct) {
  auto* close = Find<CButtonUI>(L"btnclose");
  close->SetEnabled(false);
  EXPECT_FALSE(close->Activate());
  auto* two = Find<COptionUI>(L"chk2");
  two->SetEnabled(false);
  EXPECT_FALSE(two->Activate());
  EXPECT_FALSE(two->IsSelected());
  EXPECT_TRUE(recorder.seen.empty());
  close->SetEnabled(true);
  EXPECT_TRUE(close->Activate());
  EXPECT_EQ(recorder.seen, std::vector<std::wstring>{L"click:btnclose"});
}

TEST_F(SkinTest, ImagesDecodeWithAlphaFramesAndMask) {
  const CImageUI* dot = pm.GetImage(L"res\\dot.png");
  ASSERT_NE(dot, nullptr);
  EXPECT_EQ(dot->Width(), 4);
  EXPECT_TRUE(dot->HasAlpha());
  const CImageUI* gif = pm.GetImage(L"anim.gif");
  ASSERT_NE(gif, nullptr);
  EXPECT_EQ(gif->FrameCount(), 2);
  EXPECT_EQ(gif->FrameDelay(0), 100);
  EXPECT_EQ(pm.GetImage(L"missing.png"), nullptr);

  std::string bytes;
  ASSERT_TRUE(CPaintManagerUI::LoadSkinFile(L"keyed.bmp", bytes));
  DecodedImage plain, keyed;
  ASSERT_TRUE(DecodeImage(bytes, false, 0, plain));
  ASSERT_TRUE(DecodeImage(bytes, true, 0xFFFF00FF, keyed));
  EXPECT_FALSE(plain.hasAlpha);
  EXPECT_EQ(plain.frames[0][6], 0xFFFF00FFu);
  EXPECT_EQ(keyed.frames[0][6], 0u);            // the key colour became transparent
  EXPECT_EQ(keyed.frames[0][0], 0xFF00FF00u);   // the rest is untouched
  EXPECT_FALSE(DecodeImage("not an image", false, 0, plain));
}

TEST_F(SkinTest, PaintingDrawsColoursImagesAndRichText) {
  BITMAPINFO bmi = {};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = 400;
  bmi.bmiHeader.biHeight = -300;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateDIBSection(dc, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bmp, nullptr);
  HGDIOBJ old = SelectObject(dc, bmp);
  pm.RenderTo(dc, 400, 300, UiRect(0, 0, 400, 300));
  GdiFlush();
  EXPECT_EQ(Pixel(bits, 400, 1, 1), 0xFFFFFFu);  // root background
  // Half-transparent red stretched over the header (nine-slice), blended over white.
  uint32_t header = Pixel(bits, 400, 200, 20);
  EXPECT_EQ(header >> 16, 0xFFu);
  EXPECT_NEAR(static_cast<int>((header >> 8) & 0xFF), 128, 2);
  // The rich-text button drew its text: some pixel in its row is dark.
  CControlUI* rich = pm.FindControl(L"btnrich");
  UiRect r = rich->GetPos();
  ASSERT_FALSE(r.IsEmpty());
  int dark = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      if (Pixel(bits, 400, x, y) < 0x404040) ++dark;
    }
  }
  EXPECT_GT(dark, 20);
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
}

TEST_F(SkinTest, ListRowsBuiltFromASecondMarkupFile) {
  auto* tab = Find<CTabLayoutUI>(L"tabs");
  tab->SelectItem(1);
  auto* list = Find<CListUI>(L"listrows");
  ASSERT_NE(list, nullptr);
  for (int i = 0; i < 3; ++i) {
    CDialogBuilder builder;
    CControlUI* row = builder.Create(L"item1.xml", nullptr, &pm);
    ASSERT_NE(row, nullptr);
    row->SetFixedHeight(95);
    ASSERT_TRUE(list->AddAt(row, i));
    CControlUI* btn = static_cast<CContainerUI*>(row)->FindSubControl(L"btnselectthis");
    ASSERT_NE(btn, nullptr);
    btn->SetUserData(std::to_wstring(i));
  }
  EXPECT_EQ(pm.GetInitSize(), UiSize(400, 300));  // a row's Window element leaves the window alone
  pm.LayoutNow(400, 300);
  CControlUI* btn = static_cast<CContainerUI*>(list->GetItemAt(2))->FindSubControl(L"btnselectthis");
  EXPECT_EQ(btn->GetUserData(), L"2");
  EXPECT_TRUE(btn->IsVisibleInTree());
  btn->Activate();
  EXPECT_EQ(recorder.seen, std::vector<std::wstring>{L"click:btnselectthis"});
  list->RemoveAll();
  EXPECT_EQ(list->GetCount(), 0);
  EXPECT_EQ(pm.FindControl(L"btnselectthis"), nullptr);
}

namespace {
struct WorkerArgs {
  CControlUI* label;
  CControlUI* button;
  int id;
};
DWORD WINAPI Hammer(LPVOID p) {
  auto* a = static_cast<WorkerArgs*>(p);
  for (int i = 0; i < 3000; ++i) {
    a->label->SetText(L"worker " + std::to_wstring(a->id) + L" step " + std::to_wstring(i));
    a->label->SetAttribute(L"bkimage", i % 2 ? L"file='res\\dot.png' dest='2,2,23,20' source='0,0,21,18'" : L"anim.gif");
    a->button->SetEnabled(i % 2 == 0);
    a->button->SetToolTip(std::to_wstring(i));
  }
  a->label->SetText(L"done");
  return 0;
}
}  // namespace

TEST_F(SkinTest, SettersFromWorkerThreadsWhilePainting) {
  CControlUI* label = pm.FindControl(L"labtitle");
  CControlUI* button = pm.FindControl(L"btnclose");
  WorkerArgs args[3] = {{label, button, 0}, {label, button, 1}, {label, button, 2}};
  HANDLE threads[3];
  for (int i = 0; i < 3; ++i) threads[i] = CreateThread(nullptr, 0, Hammer, &args[i], 0, nullptr);
  HDC screen = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateCompatibleBitmap(screen, 400, 300);
  HGDIOBJ old = SelectObject(screen, bmp);
  for (int i = 0; i < 300; ++i) {
    pm.RenderTo(screen, 400, 300, UiRect(0, 0, 400, 300));
    EXPECT_FALSE(label->GetText().empty());
  }
  WaitForMultipleObjects(3, threads, TRUE, INFINITE);
  for (HANDLE t : threads) CloseHandle(t);
  EXPECT_EQ(label->GetText(), L"done");
  EXPECT_FALSE(button->IsEnabled());  // the last step of every worker (2999) disables it
  EXPECT_EQ(button->GetToolTip(), L"2999");
  SelectObject(screen, old);
  DeleteObject(bmp);
  DeleteDC(screen);
}

namespace {
std::wstring g_lastNavigation;
void RecordNavigation(const std::wstring& url) { g_lastNavigation = url; }
}  // namespace

// The hidden browser control issues one GET of the address in the background (here against a listener on
// the loopback address).
TEST_F(SkinTest, WebBrowserNavigationIsOneBackgroundGet) {
  WSADATA wsa;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  int len = sizeof(addr);
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  std::wstring url = L"http://127.0.0.1:" + std::to_wstring(ntohs(addr.sin_port)) + L"/tongji.php?v=5.4";

  auto* web = Find<CWebBrowserUI>(L"webie");
  ASSERT_NE(web, nullptr);
  CWebBrowserUI::SetNavigateObserver(RecordNavigation);
  int finishedBefore = CWebBrowserUI::RequestsFinished();
  web->Navigate(url);  // returns at once
  EXPECT_EQ(g_lastNavigation, url);

  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(listener, &readable);
  timeval wait = {10, 0};
  ASSERT_EQ(select(0, &readable, nullptr, nullptr, &wait), 1) << "no request arrived";
  SOCKET client = accept(listener, nullptr, nullptr);
  std::string request;
  char buffer[1024];
  while (request.find("\r\n\r\n") == std::string::npos) {
    int got = recv(client, buffer, sizeof(buffer), 0);
    if (got <= 0) break;
    request.append(buffer, static_cast<size_t>(got));
  }
  EXPECT_EQ(request.compare(0, 28, "GET /tongji.php?v=5.4 HTTP/1"), 0) << request;
  const char reply[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
  send(client, reply, sizeof(reply) - 1, 0);
  closesocket(client);
  for (int i = 0; i < 200 && CWebBrowserUI::RequestsFinished() == finishedBefore; ++i) Sleep(25);
  EXPECT_EQ(CWebBrowserUI::RequestsFinished(), finishedBefore + 1);
  closesocket(listener);
  CWebBrowserUI::SetNavigateObserver(nullptr);
  WSACleanup();
}
