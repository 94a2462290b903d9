#include "ui/dialog_builder.h"

#include <pugixml.hpp>

#include "ui/controls.h"
#include "ui/layout.h"
#include "ui/paint_manager.h"

namespace DuiLib {

CControlUI* CreateControlByClass(const std::wstring& c) {
  if (c == L"Control") return new CControlUI;
  if (c == L"Container") return new CContainerUI;
  if (c == L"VerticalLayout") return new CVerticalLayoutUI;
  if (c == L"HorizontalLayout") return new CHorizontalLayoutUI;
  if (c == L"TabLayout") return new CTabLayoutUI;
  if (c == L"List") return new CListUI;
  if (c == L"ListContainerElement") return new CListContainerElementUI;
  if (c == L"Label" || c == L"Text") return new CLabelUI;
  if (c == L"Button") return new CButtonUI;
  if (c == L"Option") return new COptionUI;
  if (c == L"Edit") return new CEditUI;
  if (c == L"GifAnim") return new CGifAnimUI;
  if (c == L"WebBrowser") return new CWebBrowserUI;
  return nullptr;
}

namespace {

void ApplyWindowAttributes(const pugi::xml_node& window, CPaintManagerUI* manager) {
  for (pugi::xml_attribute a : window.attributes()) {
    std::wstring name = a.name(), value = a.value();
    UiSize sz;
    UiRect rc;
    if (name == L"size" && ParseSize(value, sz)) manager->SetInitSize(sz.cx, sz.cy);
    if (name == L"caption" && ParseRect(value, rc)) manager->SetCaptionRect(rc);
    if (name == L"mininfo" && ParseSize(value, sz)) manager->SetMinInfo(sz.cx, sz.cy);
    if (name == L"maxinfo" && ParseSize(value, sz)) manager->SetMaxInfo(sz.cx, sz.cy);
    if (name == L"roundcorner" && ParseSize(value, sz)) manager->SetRoundCorner(sz.cx, sz.cy);
  }
}

void AddFont(const pugi::xml_node& node, CPaintManagerUI* manager) {
  FontSpec fontDesc;
  bool isDefault = false;
  for (pugi::xml_attribute a : node.attributes()) {
    std::wstring name = a.name(), value = a.value();
    if (name == L"name") fontDesc.face = value;
    if (name == L"size") fontDesc.size = ParseInt(value);
    if (name == L"bold") fontDesc.bold = ParseBool(value);
    if (name == L"italic") fontDesc.italic = ParseBool(value);
    if (name == L"underline") fontDesc.underline = ParseBool(value);
    if (name == L"default") isDefault = ParseBool(value);
  }
  manager->AddFont(fontDesc, isDefault);
}

CControlUI* BuildControl(const pugi::xml_node& node, IDialogBuilderCallback* callback, CPaintManagerUI* manager) {
  std::wstring cls = node.name();
  CControlUI* control = CreateControlByClass(cls);
  if (control == nullptr && callback != nullptr) control = callback->CreateControl(cls);
  if (control == nullptr) return nullptr;
  if (manager != nullptr) {
    std::wstring defaults = manager->GetDefaultAttributeList(cls);
    if (!defaults.empty()) control->ApplyAttributeList(defaults);
  }
  for (pugi::xml_attribute a : node.attributes()) control->SetAttribute(a.name(), a.value());
  if (auto* container = dynamic_cast<CContainerUI*>(control)) {
    for (pugi::xml_node child : node.children()) {
      if (child.type() != pugi::node_element) continue;
      CControlUI* c = BuildControl(child, callback, manager);
      if (c != nullptr) container->Add(c);
    }
  }
  return control;
}

}  // namespace

CControlUI* CDialogBuilder::Create(const std::wstring& skinFile, IDialogBuilderCallback* callback,
                                   CPaintManagerUI* manager) {
  std::string bytes;
  if (!CPaintManagerUI::LoadSkinFile(skinFile, bytes)) {
    error_ = L"skin file not found: " + skinFile;
    return nullptr;
  }
  return CreateFromBytes(bytes, callback, manager);
}

CControlUI* CDialogBuilder::CreateFromBytes(const std::string& bytes, IDialogBuilderCallback* callback,
                                            CPaintManagerUI* manager) {
  pugi::xml_document doc;
  pugi::xml_parse_result result = doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_auto);
  if (!result) {
    error_ = L"markup not well-formed at byte " + std::to_wstring(result.offset);
    return nullptr;
  }
  pugi::xml_node top = doc.document_element();
  if (!top) {
    error_ = L"markup has no element";
    return nullptr;
  }
  if (std::wstring(top.name()) != L"Window") return BuildControl(top, callback, manager);
  // Window-level values belong to the window being built; a second file (a list row) leaves them alone.
  bool forWindow = manager != nullptr && manager->GetRoot() == nullptr;
  if (forWindow) ApplyWindowAttributes(top, manager);
  CControlUI* root = nullptr;
  for (pugi::xml_node child : top.children()) {
    if (child.type() != pugi::node_element) continue;
    std::wstring name = child.name();
    if (name == L"Font") {
      if (forWindow) AddFont(child, manager);
    } else if (name == L"Default") {
      if (manager != nullptr) {
        manager->AddDefaultAttributeList(child.attribute(L"name").value(), child.attribute(L"value").value());
      }
    } else if (name == L"Image") {
      // Images are loaded on first use.
    } else if (root == nullptr) {
      root = BuildControl(child, callback, manager);
    }
  }
  if (root == nullptr) error_ = L"markup has no control";
  return root;
}

}  // namespace DuiLib
