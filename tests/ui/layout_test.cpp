// Layout: the arrangement function and whole trees laid out without a window.
#include <gtest/gtest.h>

#include "ui/UIlib.h"

using namespace DuiLib;

namespace {

ChildSpec Fixed(int w, int h, UiRect pad = UiRect()) {
  ChildSpec c;
  c.fixedWidth = w;
  c.fixedHeight = h;
  c.padding = pad;
  return c;
}

ChildSpec Floating(UiRect pos) {
  ChildSpec c;
  c.isFloat = true;
  c.floatPos = pos;
  return c;
}

}  // namespace

TEST(ArrangeStack, VerticalFixedAndSharedHeights) {
  // 300 high: 50 fixed, two auto children share the 250 left.
  auto r = ArrangeStack(true, UiRect(0, 0, 100, 300), 0, 0, {Fixed(0, 50), Fixed(0, 0), Fixed(0, 0)}, 0);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0], UiRect(0, 0, 100, 50));
  EXPECT_EQ(r[1], UiRect(0, 50, 100, 175));
  EXPECT_EQ(r[2], UiRect(0, 175, 100, 300));
}

TEST(ArrangeStack, PaddingAndChildPaddingTakeRoom) {
  auto r = ArrangeStack(false, UiRect(10, 10, 210, 50), 10, 10,
                        {Fixed(50, 0, UiRect(5, 2, 5, 3)), Fixed(0, 20), Fixed(40, 0)}, 10);
  // Row: 5 + 50 + 5 + 10 + auto + 10 + 40 = 200 -> auto gets 80.
  EXPECT_EQ(r[0], UiRect(15, 12, 65, 47));
  EXPECT_EQ(r[1], UiRect(80, 10, 160, 30));  // fixed height 20 across the row
  EXPECT_EQ(r[2], UiRect(170, 10, 210, 50));
}

TEST(ArrangeStack, FloatsAndHiddenChildrenTakeNoRoom) {
  ChildSpec hidden = Fixed(0, 100);
  hidden.visible = false;
  auto r = ArrangeStack(true, UiRect(5, 5, 95, 95), 0, 0, {Floating(UiRect(10, 20, 40, 30)), hidden, Fixed(0, 0)}, 0);
  EXPECT_EQ(r[0], UiRect(10, 20, 40, 30));  // relative to the container's corner (0,0)
  EXPECT_TRUE(r[1].IsEmpty());
  EXPECT_EQ(r[2], UiRect(5, 5, 95, 95));
}

TEST(ArrangeStack, OverfullStackGivesAutoChildrenNothing) {
  auto r = ArrangeStack(true, UiRect(0, 0, 10, 100), 0, 0, {Fixed(0, 80), Fixed(0, 0), Fixed(0, 40)}, 0);
  EXPECT_EQ(r[1].Height(), 0);
  EXPECT_EQ(r[2], UiRect(0, 80, 10, 120));
}

TEST(ArrangeOverlay, FloatWithWidthAndHeightInsteadOfRightAndBottom) {
  ChildSpec f = Floating(UiRect(3, 4, 0, 0));
  f.fixedWidth = 10;
  f.fixedHeight = 6;
  auto r = ArrangeOverlay(UiRect(0, 0, 50, 50), 100, 200, {f, Fixed(0, 0, UiRect(1, 2, 3, 4))});
  EXPECT_EQ(r[0], UiRect(103, 204, 113, 210));
  EXPECT_EQ(r[1], UiRect(1, 2, 47, 46));
}

TEST(TreeLayout, NestedLayoutsWithInsetPaddingFloatAndFixedSizes) {
  const char* markup =
      "<Window size=\"300,200\">"
      "<VerticalLayout name=\"root\" inset=\"10,10,10,10\">"
      "  <HorizontalLayout name=\"top\" height=\"40\" childpadding=\"5\">"
      "    <Label name=\"a\" width=\"100\" padding=\"2,3,0,0\" />"
      "    <Label name=\"b\" />"
      "    <Button name=\"f\" float=\"true\" pos=\"250,0,280,20\" />"
      "  </HorizontalLayout>"
      "  <TabLayout name=\"tab\">"
      "    <VerticalLayout name=\"p0\"><Label name=\"c\" height=\"30\" /></VerticalLayout>"
      "    <VerticalLayout name=\"p1\"><Label name=\"d\" /></VerticalLayout>"
      "  </TabLayout>"
      "</VerticalLayout></Window>";
  CPaintManagerUI pm;
  CDialogBuilder builder;
  CControlUI* root = builder.CreateFromBytes(markup, nullptr, &pm);
  ASSERT_NE(root, nullptr);
  ASSERT_TRUE(pm.AttachDialog(root));
  EXPECT_EQ(pm.GetInitSize(), UiSize(300, 200));
  pm.LayoutNow(300, 200);
  EXPECT_EQ(pm.FindControl(L"top")->GetPos(), UiRect(10, 10, 290, 50));
  EXPECT_EQ(pm.FindControl(L"a")->GetPos(), UiRect(12, 13, 112, 50));
  // b: 280 wide row - (2 + 100) - 5 padding = 173.
  EXPECT_EQ(pm.FindControl(L"b")->GetPos(), UiRect(117, 10, 290, 50));
  EXPECT_EQ(pm.FindControl(L"f")->GetPos(), UiRect(260, 10, 290, 30));
  EXPECT_EQ(pm.FindControl(L"tab")->GetPos(), UiRect(10, 50, 290, 190));
  EXPECT_EQ(pm.FindControl(L"c")->GetPos(), UiRect(10, 50, 290, 80));
  EXPECT_TRUE(pm.FindControl(L"c")->IsVisibleInTree());
  EXPECT_FALSE(pm.FindControl(L"d")->IsVisibleInTree());

  auto* tab = dynamic_cast<CTabLayoutUI*>(pm.FindControl(L"tab"));
  ASSERT_NE(tab, nullptr);
  EXPECT_TRUE(tab->SelectItem(1));
  EXPECT_FALSE(tab->SelectItem(2));
  EXPECT_EQ(tab->GetCurSel(), 1);
  pm.LayoutNow(300, 200);
  EXPECT_EQ(pm.FindControl(L"d")->GetPos(), UiRect(10, 50, 290, 190));
  EXPECT_TRUE(pm.FindControl(L"d")->IsVisibleInTree());
  EXPECT_FALSE(pm.FindControl(L"c")->IsVisibleInTree());
  // Hit testing follows the layout: the float on top, the hidden page never.
  EXPECT_EQ(pm.FindControl(POINT{265, 15}), pm.FindControl(L"f"));
  EXPECT_EQ(pm.FindControl(POINT{20, 60}), pm.FindControl(L"d"));
}

TEST(TreeLayout, ListRowsScroll) {
  CPaintManagerUI pm;
  CDialogBuilder builder;
  CControlUI* root = builder.CreateFromBytes("<List name=\"l\" vscrollbar=\"true\" />", nullptr, &pm);
  ASSERT_TRUE(pm.AttachDialog(root));
  auto* list = dynamic_cast<CListUI*>(root);
  ASSERT_NE(list, nullptr);
  for (int i = 0; i < 5; ++i) {
    auto* row = new CListContainerElementUI;
    row->SetFixedHeight(95);
    ASSERT_TRUE(list->AddAt(row, i));
  }
  auto* extra = new CListContainerElementUI;
  EXPECT_FALSE(list->AddAt(extra, 9));  // refused: the caller keeps it
  delete extra;
  pm.LayoutNow(200, 300);
  EXPECT_EQ(list->GetItemAt(1)->GetPos().top, 95);
  // Five rows of 95 in 300 pixels: a scroll bar of 8 pixels appears.
  EXPECT_EQ(list->GetItemAt(0)->GetPos().right, 192);
  EXPECT_EQ(list->GetScrollRange(), 5 * 95 - 300);
  list->SetScrollPos(100);
  pm.LayoutNow(200, 300);
  EXPECT_EQ(list->GetItemAt(1)->GetPos().top, -5);
  list->SetScrollPos(100000);
  EXPECT_EQ(list->GetScrollPos(), list->GetScrollRange());
  list->RemoveAll();
  EXPECT_EQ(list->GetCount(), 0);
}

TEST(TreeLayout, ListScrollBarWidthComesFromTheSkinDefaults) {
  CPaintManagerUI pm;
  CDialogBuilder builder;
  CControlUI* root = builder.CreateFromBytes(
      "<Window><Default name=\"VScrollBar\" value=\"width=&quot;16&quot; thumbnormalimage=&quot;file='s.bmp' "
      "source='0,32,16,80' corner='0,6,0,6' mask='#FFFF00FF'&quot;\" /><List name=\"l\" /></Window>",
      nullptr, &pm);
  ASSERT_TRUE(pm.AttachDialog(root));
  auto* list = dynamic_cast<CListUI*>(root);
  for (int i = 0; i < 4; ++i) {
    auto* row = new CListContainerElementUI;
    row->SetFixedHeight(95);
    list->Add(row);
  }
  pm.LayoutNow(300, 200);
  EXPECT_EQ(list->GetItemAt(0)->GetPos().right, 300 - 16);
  list->RemoveAll();
  pm.LayoutNow(300, 200);
  EXPECT_EQ(list->GetScrollRange(), 0);
}
