#!/usr/bin/env python3
"""Checks the built skin package (skin.zip) against what the program's code and markup rely on.

Usage: check_skin.py SKIN_ZIP [--sources DIR...]

- the archive's entries are deflated and named relative to the skin folder ("res/Img_15.png");
- MainFrame1.xml (with a byte-order mark) and item1.xml parse;
- the window attributes, the six fonts and the scroll-bar default are as the window expects;
- every control the program binds exists once, with its element type and on its page of "tabswitch";
- the top options share group "1", the data-folder options have no group;
- item1.xml holds the row's six controls;
- every image named by the markup or by the program's code is in the archive (the code's names are the
  known list below plus every image name in a wide string literal of the .cpp files under the --sources
  folders).
"""
import os
import re
import sys
import unittest
import xml.etree.ElementTree as ET
import zipfile

SKIN_ZIP = None
SOURCE_DIRS = []

PAGES = ["tabmain", "tabbacksystem", "tabrecosystem", "tabbackdata", "tabrecodata",
         "tabselectsystem", "tabdownloading", "tab6"]

# name -> (element type, page index or the area outside "tabswitch")
NAMED_CONTROLS = {
    "btnmin": ("Button", "title"), "btnclose": ("Button", "title"), "btnguanwang": ("Button", "title"),
    "optmain": ("Option", "top"), "optbacksystem": ("Option", "top"), "optrecosystem": ("Option", "top"),
    "optbackdata": ("Option", "top"), "optrecodata": ("Option", "top"), "optcontact": ("Option", "top"),
    "tabswitch": ("TabLayout", "body"),
    "btninstall": ("Button", 0), "labsysver": ("Label", 0), "labrecomand": ("Label", 0),
    "labmemory": ("Label", 0), "labinstpan": ("Label", 0), "labfreespace": ("Label", 0),
    "labdownsave": ("Label", 0),
    "editbacksys": ("Edit", 1), "btnlookbacksys": ("Button", 1), "labbackpart": ("Label", 1),
    "labbacksyspartsize": ("Label", 1), "labbacksyspartformat": ("Label", 1), "labbacksysmsg": ("Label", 1),
    "btnbackupsystem": ("Button", 1),
    "editrecosys": ("Edit", 2), "btnlookrecosys": ("Button", 2), "labrecopart": ("Label", 2),
    "labrecosyspartsize": ("Label", 2), "labrecosyspartformat": ("Label", 2), "labrecosysmsg": ("Label", 2),
    "btnrecoverysystem": ("Button", 2),
    "optbackupdocument": ("Option", 3), "optbackupfavorite": ("Option", 3), "optbackupdesktop": ("Option", 3),
    "editbackdata": ("Edit", 3), "btnlookbackdata": ("Button", 3), "btnbackupdata": ("Button", 3),
    "labbackdatamsg": ("Label", 3),
    "optrecoverydocument": ("Option", 4), "optrecoveryfavorite": ("Option", 4),
    "optrecoverydesktop": ("Option", 4),
    "editrecodata": ("Edit", 4), "btnlookrecodata": ("Button", 4), "btnrecoverydata": ("Button", 4),
    "labrecodatamsg": ("Label", 4),
    "listsystem": ("List", 5),
    "gifprocess": ("GifAnim", 6), "labfilename": ("Button", 6), "labfilesize": ("Label", 6),
    "labdownareadydown": ("Label", 6), "labdownspeed": ("Label", 6), "labdownpro": ("Label", 6),
    "btnpause": ("Button", 6), "btnstop": ("Button", 6),
    "webiedowned": ("WebBrowser", 7),
    "labconnect": ("Label", "status"),
    "labcaption": ("Label", "title"),
}

TOP_OPTIONS = ["optmain", "optbacksystem", "optrecosystem", "optbackdata", "optrecodata", "optcontact"]
DATA_OPTIONS = ["optbackupdocument", "optbackupfavorite", "optbackupdesktop",
                "optrecoverydocument", "optrecoveryfavorite", "optrecoverydesktop"]

# Texts the program relies on finding in the markup (it replaces "Z" or leaves them as they are).
MARKUP_TEXTS = {
    "labcaption": "Vorlane 5.4正式版",
    "labconnect": "正在连接云引擎...",
    "labbackpart": "备份分区：       Z：",
    "labrecopart": "还原分区：       Z：",
    "btnlookbacksys": "浏览", "btnlookrecosys": "浏览", "btnlookbackdata": "浏览", "btnlookrecodata": "浏览",
}

# Images the program's code names (set at run time), as archive entry names.
CODE_IMAGES = ["pause.png", "continue.png", "Img_53.png", "res/Img_15.png", "res/Img_16.png"] + \
    ["xt%d.png" % n for n in range(1, 13)]
# Images every skin of this program carries (status images of its buttons and the list).
NAMED_IMAGES = ["hot.png", "pushed.png", "reselect.png", "downloading.GIF", "scrollbar.bmp"]

IMAGE_ATTRIBUTES = {"bkimage", "normalimage", "hotimage", "pushedimage", "selectedimage", "disabledimage",
                    "focusedimage", "foreimage", "button1normalimage", "button1hotimage",
                    "button1pushedimage", "button2normalimage", "button2hotimage", "button2pushedimage",
                    "thumbnormalimage", "thumbhotimage", "thumbpushedimage", "bknormalimage", "railnormalimage"}

FONTS = [("SimSun", "12", "false"), ("微软雅黑", "14", "false"), ("微软雅黑", "15", "false"),
         ("微软雅黑", "13", "false"), ("微软雅黑", "18", "false"), ("微软雅黑", "18", "true")]

ARGB = re.compile(r"^#[0-9A-Fa-f]{8}$")
COLOUR_ATTRIBUTES = re.compile(r"(color|colour)$")


def image_file(value):
    """The file an image attribute names: a bare name or the file='...' of a property list, as an entry."""
    match = re.search(r"file='([^']*)'", value)
    name = match.group(1) if match else value.strip()
    name = name.replace("\\", "/")
    while name.startswith("./"):
        name = name[2:]
    return name


WIDE_LITERAL = re.compile(r'L"((?:[^"\\]|\\.)*)"')
IMAGE_NAME = re.compile(r"[A-Za-z0-9_.\\/]+\.(?:png|gif|bmp|jpe?g|ico)\b", re.IGNORECASE)


def images_named_in_code(folders):
    """Image names in the wide string literals of the .cpp files under folders, as archive entries."""
    found = {}
    for folder in folders:
        for base, _, files in os.walk(folder):
            for name in files:
                if not name.endswith(".cpp"):
                    continue
                path = os.path.join(base, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for literal in WIDE_LITERAL.findall(text):
                    literal = literal.replace("\\\\", "\\")
                    for image in IMAGE_NAME.findall(literal):
                        found.setdefault(image_file(image), path)
    return found


def parse_attribute_list(text):
    """Parses name="value" pairs of a Default element's value."""
    return dict(re.findall(r'(\w+)\s*=\s*"([^"]*)"', text))


class SkinPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.zip = zipfile.ZipFile(SKIN_ZIP)
        cls.entries = {info.filename: info for info in cls.zip.infolist()}
        cls.main_bytes = cls.zip.read("MainFrame1.xml")
        cls.main = ET.fromstring(cls.main_bytes)
        cls.item = ET.fromstring(cls.zip.read("item1.xml"))
        cls.tab = next(e for e in cls.main.iter() if e.get("name") == "tabswitch")

    def named(self, root, name):
        found = [e for e in root.iter() if e.get("name") == name]
        self.assertEqual(len(found), 1, "%s occurs %d times" % (name, len(found)))
        return found[0]

    def page_of(self, element):
        for index, page in enumerate(list(self.tab)):
            if page is element or any(e is element for e in page.iter()):
                return index
        return None

    def test_entries_are_deflated_and_relative(self):
        for name, info in self.entries.items():
            with self.subTest(entry=name):
                self.assertFalse(name.startswith("/") or "\\" in name or name.startswith("skin/"), name)
                if not name.endswith("/"):
                    self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED, name)
        self.assertIn("res/Img_15.png", self.entries)
        self.assertIsNone(self.zip.testzip())

    def test_main_file_has_bom_and_item_file_parses(self):
        self.assertTrue(self.main_bytes.startswith(b"\xef\xbb\xbf"))
        self.assertEqual(self.main.tag, "Window")
        self.assertEqual(self.item.tag, "Window")

    def test_window_attributes(self):
        expected = {"size": "800,580", "caption": "0,0,0,100", "mininfo": "800,550", "maxinfo": "800,550",
                    "roundcorner": "2,2"}
        for key, value in expected.items():
            with self.subTest(attribute=key):
                self.assertEqual(self.main.get(key), value)

    def test_fonts_in_index_order(self):
        fonts = self.main.findall("Font")
        self.assertEqual(len(fonts), 6)
        for index, (font, (face, size, bold)) in enumerate(zip(fonts, FONTS)):
            with self.subTest(font=index):
                self.assertEqual(font.get("name"), face)
                self.assertEqual(font.get("size"), size)
                self.assertEqual(font.get("bold", "false"), bold)
        self.assertEqual(fonts[0].get("default"), "true")
        self.assertEqual([f for f in fonts[1:] if f.get("default") == "true"], [])
        # Window children come first: fonts and defaults precede the control tree.
        kinds = [child.tag for child in self.main]
        self.assertEqual(kinds[:7], ["Font"] * 6 + ["Default"])

    def test_scrollbar_default_uses_masked_bitmap(self):
        defaults = [d for d in self.main.findall("Default") if d.get("name") == "VScrollBar"]
        self.assertEqual(len(defaults), 1)
        attributes = parse_attribute_list(defaults[0].get("value"))
        images = {k: v for k, v in attributes.items() if k.endswith("image")}
        self.assertTrue(images, "no scroll-bar images")
        for key, value in images.items():
            with self.subTest(attribute=key):
                self.assertEqual(image_file(value), "scrollbar.bmp")
                self.assertIn("mask='#FFFF00FF'", value)

    def test_pages_of_tabswitch_in_order(self):
        self.assertEqual(self.tab.tag, "TabLayout")
        self.assertEqual([page.get("name") for page in self.tab], PAGES)

    def test_named_controls_type_and_place(self):
        header = next(e for e in self.main.iter() if e.get("name") == "header")
        status = next(e for e in self.main.iter() if e.get("name") == "statusbar")
        for name, (kind, where) in NAMED_CONTROLS.items():
            with self.subTest(control=name):
                element = self.named(self.main, name)
                self.assertEqual(element.tag, kind)
                if isinstance(where, int):
                    self.assertEqual(self.page_of(element), where)
                elif where in ("title", "top"):
                    self.assertTrue(any(e is element for e in header.iter()), "not in the header")
                elif where == "status":
                    self.assertTrue(any(e is element for e in status.iter()), "not in the status bar")

    def test_control_details(self):
        for name in ("editbacksys", "editrecosys", "editbackdata", "editrecodata"):
            with self.subTest(control=name):
                self.assertEqual(self.named(self.main, name).get("readonly"), "true")
        self.assertEqual(self.named(self.main, "labfilename").get("showhtml"), "true")
        self.assertEqual(image_file(self.named(self.main, "gifprocess").get("bkimage")), "downloading.GIF")
        self.assertEqual(image_file(self.named(self.main, "btnpause").get("bkimage")), "pause.png")
        web = self.named(self.main, "webiedowned")
        self.assertEqual((web.get("width"), web.get("height")), ("2", "2"))
        self.assertEqual(self.named(self.main, "listsystem").get("vscrollbar"), "true")
        connect = self.named(self.main, "labconnect").get("bkimage")
        self.assertEqual(image_file(connect), "res/Img_15.png")
        self.assertIn("dest='2,2,23,20'", connect)
        self.assertIn("source='0,0,21,18'", connect)
        for name, text in MARKUP_TEXTS.items():
            with self.subTest(text=name):
                self.assertEqual(self.named(self.main, name).get("text"), text)

    def test_option_groups(self):
        for name in TOP_OPTIONS:
            with self.subTest(option=name):
                self.assertEqual(self.named(self.main, name).get("group"), "1")
        for name in DATA_OPTIONS:
            with self.subTest(option=name):
                self.assertIsNone(self.named(self.main, name).get("group"))
        grouped = sorted(e.get("name") for e in self.main.iter("Option") if e.get("group") == "1")
        self.assertEqual(grouped, sorted(TOP_OPTIONS))

    def test_colours_are_argb(self):
        for root in (self.main, self.item):
            for element in root.iter():
                for key, value in element.attrib.items():
                    if COLOUR_ATTRIBUTES.search(key):
                        with self.subTest(element=element.get("name", element.tag), attribute=key):
                            self.assertRegex(value, ARGB)

    def test_catalogue_row(self):
        self.assertEqual(self.item.get("size"), "800,95")
        rows = self.item.findall("ListContainerElement")
        self.assertEqual(len(rows), 1)
        layouts = rows[0].findall("HorizontalLayout")
        self.assertEqual(len(layouts), 1)
        row = layouts[0]
        expected = {"labpic": "Label", "labsystemname": "Label", "labdes": "Label", "labsize": "Label",
                    "labhot": "Label", "btnselectthis": "Button"}
        for name, kind in expected.items():
            with self.subTest(control=name):
                element = self.named(self.item, name)
                self.assertEqual(element.tag, kind)
                self.assertTrue(any(e is element for e in row.iter()))
        texts = [c for c in row if c.tag == "VerticalLayout"]
        self.assertEqual(len(texts), 1)
        self.assertEqual([c.get("name") for c in texts[0]], ["labsystemname", "labdes"])
        self.assertEqual(self.named(self.item, "btnselectthis").get("text"), "安装此系统")
        self.assertEqual(image_file(self.named(self.item, "labhot").get("bkimage")), "Img_53.png")

    def test_every_image_is_in_the_archive(self):
        referenced = set(CODE_IMAGES) | set(NAMED_IMAGES)
        for root in (self.main, self.item):
            for element in root.iter():
                for key, value in element.attrib.items():
                    if key in IMAGE_ATTRIBUTES and value:
                        referenced.add(image_file(value))
                if element.tag == "Default":
                    for key, value in parse_attribute_list(element.get("value", "")).items():
                        if key in IMAGE_ATTRIBUTES:
                            referenced.add(image_file(value))
        for name in sorted(referenced):
            with self.subTest(image=name):
                self.assertTrue(name in self.entries, "%s is not in the package" % name)

    def test_images_named_by_the_code_are_in_the_archive(self):
        if not SOURCE_DIRS:
            self.skipTest("no --sources given")
        named = images_named_in_code(SOURCE_DIRS)
        self.assertIn("res/Img_16.png", named, "the scan finds no status icon in the code")
        for name, path in sorted(named.items()):
            with self.subTest(image=name):
                self.assertTrue(name in self.entries, "%s (named in %s) is not in the package" % (name, path))

    def test_images_have_their_formats(self):
        signatures = {".png": b"\x89PNG\r\n\x1a\n", ".gif": b"GIF89a", ".bmp": b"BM"}
        for name in self.entries:
            suffix = name[name.rfind("."):].lower()
            if suffix in signatures:
                with self.subTest(image=name):
                    self.assertTrue(self.zip.read(name).startswith(signatures[suffix]))
        gif = self.zip.read("downloading.GIF")
        self.assertGreater(gif.count(b"\x21\xf9\x04"), 1, "the animation needs several frames")
        for name in ("res/Img_15.png", "res/Img_16.png"):
            with self.subTest(icon=name):
                data = self.zip.read(name)
                width, height = int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")
                self.assertGreaterEqual(width, 21)
                self.assertGreaterEqual(height, 18)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    SKIN_ZIP = sys.argv.pop(1)
    if len(sys.argv) > 1 and sys.argv[1] == "--sources":
        SOURCE_DIRS = sys.argv[2:]
        del sys.argv[1:]
    unittest.main(verbosity=1)
