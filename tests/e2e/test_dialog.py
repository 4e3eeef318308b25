"""The key dialog of the real quorv.exe, used the way a person uses it.

Clicks and key presses are real X input (xdotool) on the test machine's headless display;
the driver program looks at the dialog from another Windows process; the X clipboard is
read with xclip. The resources are read straight from the executable's resource directory.
"""
import os
import struct
import subprocess
import time
import unittest
import xml.etree.ElementTree as ElementTree

from machine import Machine, MachineTest, windows_path

KEY = "NPPR9-FWDCX-D2C8J-H872K-2YT43"
TITLE = "Windows Product Key"
BEFORE = "copied before"
HERE = os.path.dirname(os.path.abspath(__file__))
MANIFEST_FILE = os.path.join(HERE, "..", "..", "resources", "quorv.manifest")


def fields(output):
    """The key=value lines of a driver report (the last value of a key wins)."""
    return dict(line.split("=", 1) for line in output.splitlines() if "=" in line)


def point(text):
    x, y = text.split(",")
    return int(x), int(y)


def rect(text):
    return tuple(int(value) for value in text.split(","))


def centre(box):
    left, top, right, bottom = box
    return (left + right) / 2, (top + bottom) / 2


def poll(probe, timeout=20.0, interval=0.2):
    """Calls probe until it returns something true or the time is up; returns its last result."""
    deadline = time.monotonic() + timeout
    while True:
        result = probe()
        if result or time.monotonic() > deadline:
            return result
        time.sleep(interval)


def xdotool(*args):
    subprocess.run(["xdotool", *(str(arg) for arg in args)], check=True, timeout=30)


def x_clipboard():
    result = subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True,
                            timeout=10)
    return result.stdout.decode("utf-8", "replace") if result.returncode == 0 else None


class DialogTest(MachineTest):
    """Each test starts its own dialog and must end it; a dialog left open is closed."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.machine.set_keys(plain=KEY)

    def driver(self, *args):
        result = self.machine.wine(self.machine.driver, *args)
        return fields(result.stdout)

    def start_dialog(self, wine_args=None, arguments=""):
        """Starts quorv.exe (without an argument by default) in the background; returns the
        process."""
        args = wine_args or [self.machine.driver, "launch"]
        environment = dict(os.environ, USER="alice",
                           QUORV_COMMAND_LINE=self.machine.command_line(arguments))
        process = subprocess.Popen([self.machine.wine_run, "--network", "office", *args],
                                   env=environment, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True)
        self.addCleanup(self.end_leftovers, process)
        return process

    def end_leftovers(self, process):
        if process.poll() is None:
            self.driver("close")
            process.wait(timeout=60)
        if not process.stdout.closed:
            process.stdout.close()

    def open_dialog(self, arguments=""):
        """Starts the dialog and waits until it shows; returns (process, its description)."""
        process = self.start_dialog(arguments=arguments)
        dialog = self.driver("dialog")
        self.assertEqual(dialog.get("title"), TITLE, "the dialog did not appear")
        return process, dialog

    def exit_report(self, process):
        """The driver's "exit=N window=0|1" of the background start, once it has ended."""
        output, _ = process.communicate(timeout=60)
        return fields(output.replace(" ", "\n"))

    def assert_clipboards_hold(self, text):
        """Both the X clipboard and the Windows clipboard hold exactly text."""
        self.assertEqual(poll(lambda: x_clipboard() == text, timeout=10) and x_clipboard(),
                         text)
        self.assertEqual(self.driver("clipboard")["text"], (text.encode() + b"\0").hex())

    def click(self, where):
        xdotool("mousemove", *where)
        xdotool("click", "1")


class UsingTheDialogTest(DialogTest):
    def test_shows_the_key_centred_hover_tells_click_copies_escape_ends(self):
        self.driver("set-clipboard", BEFORE)
        process, dialog = self.open_dialog()
        self.assertEqual(dialog["caption"], KEY)
        window, work = rect(dialog["window"]), rect(dialog["work"])
        for axis in (0, 1):
            self.assertAlmostEqual(centre(window)[axis], centre(work)[axis], delta=1)

        # From outside onto the button, so the pointer surely moves over it.
        xdotool("mousemove", 0, 0)
        xdotool("mousemove", *point(dialog["button_centre"]))
        tooltip = self.driver("tooltip")
        self.assertEqual(tooltip.get("tooltip"), "1", "no tooltip over the button")
        self.assertEqual(tooltip.get("text"), "click to copy")

        xdotool("click", "1")
        self.assert_clipboards_hold(KEY)

        xdotool("key", "Escape")
        self.assertEqual(self.exit_report(process), {"exit": "0", "window": "1"})

    def test_about_box_closes_with_ok_and_the_dialog_goes_on_working(self):
        process, dialog = self.open_dialog()
        about = self.driver("about")
        self.assertEqual(about.get("about"), "1", "no About box")
        self.assertEqual(about["title"], "About")
        self.assertEqual(about["text"], "Quorv v0.31 by Vemra")
        self.assertEqual(about["icon"], "1")
        self.assertEqual((about["buttons"], about["button"], about["button_id"]),
                         ("1", "OK", "1"))
        self.click(point(about["button_centre"]))
        self.assertEqual(self.driver("about-closed")["about_closed"], "1")

        self.driver("set-clipboard", BEFORE)
        self.click(point(dialog["button_centre"]))
        self.assert_clipboards_hold(KEY)
        xdotool("key", "Escape")
        self.assertEqual(self.exit_report(process)["exit"], "0")


class OneInstanceTest(DialogTest):
    def test_second_start_ends_without_window_and_log_mode_runs_beside(self):
        process, dialog = self.open_dialog()

        second = fields(self.machine.wine(self.machine.driver, "launch-alone",
                                          env={"QUORV_COMMAND_LINE":
                                               self.machine.command_line()}).stdout.replace(" ", "\n"))
        self.assertEqual(second, {"exit": "0", "window": "0"})

        log = self.path("log.txt")
        self.assertEqual(self.machine.run_quorv(f'"{windows_path(log)}"')[0], 0)
        with open(log, "rb") as file:
            lines = file.read().split(b"\r\n")
        self.assertEqual(len(lines), 2, lines)
        self.assertTrue(lines[0].startswith(KEY.encode() + b"   02:00:5E:10:00:01 "), lines)

        self.assertEqual(self.driver("dialog")["pid"], dialog["pid"], "the first dialog went")
        self.click(point(dialog["button_centre"]))
        xdotool("key", "Escape")
        self.assertEqual(self.exit_report(process)["exit"], "0")


    def test_empty_quoted_argument_shows_the_dialog(self):
        process, dialog = self.open_dialog('""')
        self.assertEqual(dialog["caption"], KEY)
        xdotool("key", "Escape")
        self.assertEqual(self.exit_report(process)["exit"], "0")
        self.assertEqual(os.listdir(self.folder), [])


class WholeWindowTest(DialogTest):
    """In a Wine desktop Wine draws the whole window, title bar and close box included."""

    DESKTOP = "quorv-dialog"
    EXPLORER = r"HKCU\Software\Wine\Explorer"

    def setUp(self):
        super().setUp()
        self.use_desktop(True)
        self.addCleanup(self.use_desktop, False)

    def use_desktop(self, on):
        """Makes a 640x480 Wine desktop the default desktop of the machine, or no longer.
        Wine 10 takes a desktop opened by `explorer /desktop=` in a session that knows the X
        screen for a second monitor and centres the dialog on the screen, off the desktop; a
        session started with the desktop as its default has that one monitor only."""
        if on:
            self.machine.registry([
                Machine.set_text(self.EXPLORER, "Desktop", self.DESKTOP),
                Machine.set_text(self.EXPLORER + r"\Desktops", self.DESKTOP, "640x480")])
        else:
            self.machine.registry([Machine.delete(self.EXPLORER, "Desktop")])
        subprocess.run([self.machine.wine_run, "--stop"], check=True, timeout=60)

    def test_screenshot_and_the_close_box(self):
        report = self.path("session.txt")
        process = self.start_dialog([self.machine.driver, "session", windows_path(report)])
        dialog = poll(lambda: self.read_report(report, "close") or
                      self.read_report(report, "error"), timeout=90)
        self.assertTrue(dialog, "the dialog did not appear in the desktop")
        self.assertNotIn("error", dialog)
        self.assertEqual((dialog["title"], dialog["caption"]), (TITLE, KEY))
        window, work = rect(dialog["window"]), rect(dialog["work"])
        for axis in (0, 1):
            self.assertAlmostEqual(centre(window)[axis], centre(work)[axis], delta=1)
        self.assertNotEqual(dialog["close"], "none", "no close box")

        origin = self.desktop_origin()
        # As a user sees it: a click on the title bar makes the dialog the active window.
        self.click((origin[0] + window[0] + 40, origin[1] + window[1] + 10))
        self.save_screenshot(origin, window)

        close = point(dialog["close"])
        self.click((origin[0] + close[0], origin[1] + close[1]))
        ended = poll(lambda: self.read_report(report, "exit"), timeout=60)
        self.assertEqual(ended and ended["exit"], "0")
        process.wait(timeout=60)

    @staticmethod
    def read_report(path, key):
        try:
            with open(path) as file:
                report = fields(file.read())
        except FileNotFoundError:
            return None
        return report if key in report else None

    def desktop_origin(self):
        output = subprocess.run(["xdotool", "search", "--name", f"^{self.DESKTOP} - ",
                                 "getwindowgeometry", "--shell"], capture_output=True,
                                text=True, timeout=30).stdout
        geometry = fields(output)
        return int(geometry["X"]), int(geometry["Y"])

    def save_screenshot(self, origin, window, margin=24):
        """Saves the dialog with a margin of desktop as dialog.png in the build tree (it
        outlives the run, unlike the scratch), once it is drawn (a little after it shows) and
        stops changing."""
        left, top, right, bottom = window
        crop = (f"{right - left + 2 * margin}x{bottom - top + 2 * margin}"
                f"+{origin[0] + left - margin}+{origin[1] + top - margin}")
        path = os.path.join(os.environ["QUORV_BUILD_DIR"], "dialog.png")
        previous = None

        def settled():
            nonlocal previous
            subprocess.run(["import", "-window", "root", "-crop", crop, "+repage", path],
                           check=True, timeout=30)
            pixels = subprocess.run(["convert", path, "rgb:-"], capture_output=True,
                                    check=True, timeout=30).stdout
            same, previous = pixels == previous, pixels
            # Desktop, title bar, caption text, button face and key: clearly more than 4.
            colours = len({pixels[i:i + 3] for i in range(0, len(pixels), 3)})
            return same and colours > 4

        self.assertTrue(poll(settled, timeout=20, interval=0.5), "the dialog kept changing")


# Resources ------------------------------------------------------------------------------

def read_resources(path):
    """{(type, name, language): bytes} from the resource directory of a PE file."""
    with open(path, "rb") as file:
        image = file.read()
    header = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[header:header + 4] == b"PE\0\0"
    section_count, optional_size = struct.unpack_from("<H12xH", image, header + 6)
    optional = header + 24
    assert struct.unpack_from("<H", image, optional)[0] == 0x10B, "not PE32"
    resource_rva = struct.unpack_from("<I", image, optional + 96 + 2 * 8)[0]
    sections = [struct.unpack_from("<8xIII", image, optional + optional_size + 40 * i)[:2] +
                (struct.unpack_from("<I", image, optional + optional_size + 40 * i + 20)[0],)
                for i in range(section_count)]

    def file_offset(rva):
        for size, address, raw in sections:
            if address <= rva < address + size:
                return rva - address + raw
        raise ValueError(f"RVA {rva:#x} is in no section")

    base = file_offset(resource_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", image, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", image, base + directory + 16 + 8 * i)
            if name & 0x80000000:
                at = base + (name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", image, at)[0]
                name = image[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            yield name, target & 0x7FFFFFFF

    resources = {}
    for kind, names in entries(0):
        for name, languages in entries(names):
            for language, leaf in entries(languages):
                rva, size = struct.unpack_from("<II", image, base + leaf)
                resources[(kind, name, language)] = image[file_offset(rva):file_offset(rva) + size]
    return resources


class TemplateReader:
    """Reads a dialog template field by field."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def read(self, layout):
        values = struct.unpack_from("<" + layout, self.data, self.at)
        self.at += struct.calcsize("<" + layout)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return value

    def name_or_ordinal(self):
        """An ordinal as an int, a name as a string, nothing as None."""
        first = self.read("H")
        if first == 0:
            return None
        if first == 0xFFFF:
            return self.read("H")
        self.at -= 2
        return self.text()

    def align(self):
        self.at = (self.at + 3) & ~3


ICON_SIZES = (16, 32, 48, 72)


class ResourcesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.resources = read_resources(os.environ["QUORV_EXE"])

    def test_exactly_the_dialog_the_icons_and_the_manifest_in_english(self):
        self.assertEqual(sorted(self.resources), [(3, 1, 1033), (3, 2, 1033), (3, 3, 1033),
                                                  (3, 4, 1033), (5, 100, 1033), (14, 120, 1033),
                                                  (24, 1, 1033)])

    def test_dialog_template(self):
        template = TemplateReader(self.resources[(5, 100, 1033)])
        self.assertEqual(template.read("HHIII"), (1, 0xFFFF, 0, 0, 0x90C80844))
        self.assertEqual(template.read("H4h"), (1, 0, 0, 158, 24))
        self.assertEqual((template.name_or_ordinal(), template.name_or_ordinal()), (None, None))
        self.assertEqual(template.text(), TITLE)
        self.assertEqual(template.read("HHBB"), (8, 0, 0, 0))
        self.assertEqual(template.text(), "MS Sans Serif")
        template.align()
        self.assertEqual(template.read("III4hI"), (0, 0, 0x50010000, 3, 4, 151, 16, 110))
        control_class = template.name_or_ordinal()
        self.assertIn(control_class if isinstance(control_class, int) else control_class.upper(),
                      (0x80, "BUTTON"))
        self.assertEqual(template.name_or_ordinal(), "COPY")
        self.assertEqual(template.read("H"), 0, "creation data")
        self.assertEqual(template.at, len(template.data), "bytes after the one control")

    def test_icon_group_lists_four_32_bit_images(self):
        group = self.resources[(14, 120, 1033)]
        self.assertEqual(struct.unpack_from("<HHH", group), (0, 1, 4))
        self.assertEqual(len(group), 6 + 4 * 14)
        for index, size in enumerate(ICON_SIZES):
            with self.subTest(size=size):
                entry = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * index)
                image_id = index + 1
                self.assertEqual(entry, (size, size, 0, 0, 1, 32,
                                         len(self.resources[(3, image_id, 1033)]), image_id))

    def test_icon_images_are_uncompressed_32_bit_bitmaps_with_alpha_and_mask(self):
        for image_id, size in enumerate(ICON_SIZES, start=1):
            with self.subTest(size=size):
                image = self.resources[(3, image_id, 1033)]
                self.assertNotEqual(image[:4], b"\x89PNG")
                header = struct.unpack_from("<IiiHHII", image)
                mask_row = (size + 31) // 32 * 4
                self.assertEqual(header, (40, size, 2 * size, 1, 32, 0,
                                          size * size * 4 + size * mask_row))
                self.assertEqual(len(image), 40 + size * size * 4 + size * mask_row)
                pixels = image[40:40 + size * size * 4]
                mask = image[40 + size * size * 4:]
                alphas = pixels[3::4]
                self.assertTrue({0, 255} <= set(alphas), "needs transparent and solid pixels")
                self.assertTrue(any(0 < alpha < 255 for alpha in alphas), "no soft edges")
                for row in range(size):
                    for column in range(size):
                        masked = mask[row * mask_row + column // 8] >> (7 - column % 8) & 1
                        if masked != (alphas[row * size + column] == 0):
                            self.fail(f"mask and alpha disagree at {column},{row}")

    def test_manifest(self):
        manifest = self.resources[(24, 1, 1033)]
        with open(MANIFEST_FILE, "rb") as file:
            self.assertEqual(manifest, file.read(), "the exe must carry the file unchanged")
        self.assertTrue(manifest.startswith(
            b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n'))
        lines = manifest.split(b"\r\n")
        self.assertEqual(lines[-1], b"", "the last line ends with CR LF")
        for line in lines:
            self.assertNotIn(b"\n", line)
            self.assertNotIn(b"\r", line)
            indent = line[:len(line) - len(line.lstrip())]
            self.assertEqual(indent.strip(b"\t"), b"", f"indented with blanks: {line!r}")
        self.assertTrue(any(line.startswith(b"\t\t") for line in lines), "no nesting")

        namespace = "{urn:schemas-microsoft-com:asm.v1}"
        root = ElementTree.fromstring(manifest)
        self.assertEqual((root.tag, root.attrib), (namespace + "assembly",
                                                   {"manifestVersion": "1.0"}))
        self.assertEqual([child.tag for child in root],
                         [namespace + tag for tag in ("assemblyIdentity", "description",
                                                      "dependency")])
        self.assertEqual(list(root[0].attrib.items()),
                         [("version", "1.0.0.0"), ("processorArchitecture", "*"),
                          ("name", "vemra.quorv"), ("type", "win32")])
        self.assertEqual((root[1].text or "", len(root[1])), ("", 0))
        dependent = root[2].findall(namespace + "dependentAssembly")
        self.assertEqual(len(root[2]), 1)
        self.assertEqual(len(dependent), 1)
        self.assertEqual(len(dependent[0]), 1)
        self.assertEqual(list(dependent[0][0].attrib.items()),
                         [("type", "win32"), ("name", "Microsoft.Windows.Common-Controls"),
                          ("version", "6.0.0.0"), ("processorArchitecture", "*"),
                          ("publicKeyToken", "6595b64144ccf1df"), ("language", "*")])
        self.assertNotIn(b"trustInfo", manifest)


if __name__ == "__main__":
    unittest.main()
