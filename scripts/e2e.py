#!/usr/bin/env python3
# Drives the demo in a real X server with real input events and checks each outcome.
#
# Run it through scripts/e2e.sh, which starts the X server. The demo is started with
# --describe-widgets, so the driver knows where each named widget is and which dialogs are up; it
# clicks with xdotool, types into the file dialogs, and checks every step against the demo's log
# and, at the end, against the simulated adapter's state that the demo prints at exit. After every
# step a screenshot of the whole screen goes to <build>/e2e/NN-step.png.
#
# scripts/e2e.py --build BUILD_DIR

import argparse, itertools, os, re, shutil, signal, subprocess, sys, time
from collections import namedtuple
from contextlib import suppress

TOOL_TIMEOUT_S = 20  # any one xdotool, screenshot or image call
RUN_TIMEOUT_S = 240  # the whole run; every wait below also has its own

BACKUP_SIZE = 245760 + 16  # a V2 configuration image and its digest
OPENED = r"DeviceFlash open \.\.\. 3642 45938 true"  # vendor 0e3a, product b372
END_STATE = "plugged in | firmware 5.7.3 | layout V2 | boot mode 0 | configuration intact"
# Qt's own widget file dialogs and no scaling, whatever the desktop around says.
DESKTOP_VARIABLES = ("QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "XDG_CURRENT_DESKTOP",
                     "DESKTOP_SESSION", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
                     "QT_MESSAGE_PATTERN", "QT_FONT_DPI", "QT_ENABLE_HIGHDPI_SCALING")

# A described widget: where it is, whether it takes input, what it shows.
Widget = namedtuple("Widget", "x y width height enabled text")


class StepFailed(Exception):
    pass


def say(text):
    print(f"e2e: {text}", flush=True)


def read(path):
    with suppress(FileNotFoundError), open(path, encoding="utf-8", errors="replace") as file:
        return file.read()
    return ""


def luminance(colour):
    # The relative luminance of an 8-bit sRGB colour, as WCAG defines it.
    r, g, b = (c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4
               for c in (v / 255 for v in colour))
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


class Driver:
    def __init__(self, build):
        self.binary = f"{os.path.abspath(build)}/demo/halvern-flash-tool-demo"
        self.out = f"{os.path.abspath(build)}/e2e"
        self.describe_path, self.log_path = f"{self.out}/widgets.txt", f"{self.out}/demo.log"
        self.backup_path = f"{self.out}/backup.bkp"
        self.processes, self.step_name = [], "start"
        self.shots = self.steps_passed = self.mark = 0

    # --- environment -----------------------------------------------------------------------

    def prepare(self):
        self.expect(os.access(self.binary, os.X_OK), f"no demo binary at {self.binary}")
        self.expect("DISPLAY" in os.environ, "no DISPLAY: run through scripts/e2e.sh")
        shutil.rmtree(self.out, ignore_errors=True)
        home, runtime, tmp = (f"{self.out}/{name}" for name in ("home", "runtime", "tmp"))
        for folder in (home, runtime, tmp):
            os.makedirs(folder, mode=0o700)
        open(f"{tmp}/FirmwareV5.7.3.bin", "wb").close()  # empty: for the file dialog step only
        share = f"{home}/.local/share"
        self.settings_path = f"{share}/HalVern/HalVern M7 Firmware Tool Demo/halvernflashtool.ini"
        # A home of its own: no settings, catalog cache or language from an earlier run, and
        # no running demo of the user's to meet through the single-instance guard.
        self.env = {k: v for k, v in os.environ.items() if k not in DESKTOP_VARIABLES} | dict(
            HOME=home, XDG_DATA_HOME=share, XDG_CONFIG_HOME=f"{home}/.config", TMPDIR=tmp,
            XDG_CACHE_HOME=f"{home}/.cache", XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="xcb",
            QT_LOGGING_RULES="default.debug=true", NO_AT_BRIDGE="1")

    def start_demo(self, *args, log_path=None):
        with open(log_path or self.log_path, "ab") as log:
            self.processes.append(subprocess.Popen(
                [self.binary, *args], stdin=subprocess.DEVNULL, stdout=log,
                stderr=subprocess.STDOUT, env=self.env, start_new_session=True))
        return self.processes[-1]

    def stop_all(self):
        for process, sig in itertools.product(self.processes, (signal.SIGTERM, signal.SIGKILL)):
            if process.poll() is None:
                with suppress(ProcessLookupError, subprocess.TimeoutExpired):
                    os.killpg(process.pid, sig)
                    process.wait(timeout=5)

    # --- observing -------------------------------------------------------------------------

    def log(self):
        return read(self.log_path)

    def find(self, target):
        # target is "window/name", or "window" for the window itself.
        window, _, name = target.partition("/")
        for fields in (line.split("\t") for line in read(self.describe_path).splitlines()):
            if len(fields) == 9 and fields[:2] == [window, name or window]:
                return Widget(*map(int, fields[3:7]), fields[7] == "1", re.sub(
                    r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m[1], m[1]), fields[8]))

    def expect(self, condition, message):
        if not condition:
            raise StepFailed(message)

    def wait(self, what, predicate, timeout):
        # Polls predicate until it returns something true; fails the step after timeout.
        end = min(time.monotonic() + timeout, self.deadline)
        while True:
            self.expect(self.demo.poll() is None or self.step_name == "close",
                        f"the demo ended with {self.demo.returncode} while waiting for {what}")
            if result := predicate():
                return result
            self.expect(time.monotonic() <= end, f"timed out after {timeout} s waiting for {what}")
            time.sleep(0.05)

    def wait_log(self, pattern, timeout=20, since=None):
        # Looks from the step's start unless told otherwise.
        regex, since = re.compile(pattern), self.mark if since is None else since
        return self.wait(f"log /{pattern}/", lambda: regex.search(self.log(), since), timeout)[0]

    def widget(self, target, text=None, enabled=False, timeout=20):
        # Waits until the widget is shown (enabled, with text in it) and holds still: it is in
        # the description as soon as Qt shows it, and the X server maps it a moment later.
        last = {}

        def ready():
            widget = self.find(target)
            shown = widget and (widget.enabled or not enabled) and (text or "") in widget.text
            key = shown and widget[:5]  # place, size and state
            if last.get("key") != key:
                last.update(key=key, since=time.monotonic())
            return widget if shown and time.monotonic() - last["since"] >= 0.3 else None
        return self.wait(target + (f" showing {text!r}" if text else ""), ready, timeout)

    def gone(self, target, timeout=20):
        return self.wait(f"{target} to close", lambda: self.find(target) is None, timeout)

    def not_logged(self, pattern, what):
        self.expect(not re.search(pattern, self.log()[self.mark:]), f"the {what} logged a failure")

    # --- acting ----------------------------------------------------------------------------

    def tool(self, *args):
        result = subprocess.run(args, env=self.env, capture_output=True, text=True,
                                timeout=TOOL_TIMEOUT_S)
        self.expect(result.returncode == 0, f"{' '.join(args)} failed: {result.stderr.strip()}")
        return result.stdout

    def click(self, target, timeout=20):
        widget = self.widget(target, enabled=True, timeout=timeout)
        # No --sync: it waits for a movement that never comes when the pointer is already
        # there. The server handles the fake motion before the fake click anyway.
        self.tool("xdotool", "mousemove", str(widget.x + widget.width // 2),
                  str(widget.y + widget.height // 2), "click", "1")

    def pick(self, combo, *keys):
        # Opens a combo box with a click and chooses with keys in its list.
        self.click(combo)
        self.widget("QComboBoxPrivateContainer", timeout=5)
        self.tool("xdotool", "key", "--delay", "60", *keys, "Return")
        self.gone("QComboBoxPrivateContainer", timeout=5)

    def type_path(self, path):
        self.click("QFileDialog/fileNameEdit", timeout=60)
        self.tool("xdotool", "key", "--delay", "60", "ctrl+a")
        self.tool("xdotool", "type", "--delay", "20", "--", path)
        self.widget("QFileDialog/fileNameEdit", path, enabled=True, timeout=5)

    def close_file_dialog(self, key):
        # Presses the key until the file dialog is gone: the name line's completer may have
        # opened its list, which takes the first press.
        for _ in range(3):
            self.tool("xdotool", "key", "--delay", "60", key)
            with suppress(StepFailed):
                return self.gone("QFileDialog", timeout=2)
        return False

    def dismiss(self, text="successfully!"):
        self.widget("MessageDialog/textBrowser", text)
        self.click("MessageDialog/pushButton_MsgOK")
        self.gone("MessageDialog")

    def screenshot(self, name):
        self.shots += 1
        self.tool("import", "-silent", "-window", "root", f"{self.out}/{self.shots:02d}-{name}.png")

    def text_contrast(self, shot, x, y, width, height):
        # The WCAG contrast of a button's text: its face is the area's commonest colour, its text
        # the colour, among those covering enough of the area to be glyphs, farthest from it.
        histogram = self.tool("convert", shot, "-crop", f"{width}x{height}+{x}+{y}", "+repage",
                              "-depth", "8", "-format", "%c", "histogram:info:-")
        counts = [(int(m[1]), (int(m[2]), int(m[3]), int(m[4]))) for m in re.finditer(
            r"^\s*(\d+):\s*\(\s*(\d+),\s*(\d+),\s*(\d+)", histogram, re.M)]
        face = luminance(max(counts)[1])
        glyphs = (luminance(colour) for count, colour in counts if count >= width * height // 500)
        return max((max(face, text) + 0.05) / (min(face, text) + 0.05) for text in glyphs)

    # --- the flow --------------------------------------------------------------------------

    def run(self):
        steps = (
            ("catalog", self.catalog), ("connected", self.first_connection),
            ("dragged", self.drag), ("file-dialog", self.file_dialog), ("update", self.update),
            ("update-dismissed", self.dismiss, "Update successfully!"), ("backup", self.backup),
            ("backup-dismissed", self.dismiss), ("boot-mode", self.boot_mode),
            ("boot-mode-dismissed", self.dismiss), ("restore", self.restore),
            ("restore-dismissed", self.dismiss),
            ("french", self.switch_language, "Down", 4, "Français"),
            ("english", self.switch_language, "Up", 0, "English"),
            ("unplugged", self.unplug), ("replugged", self.replug),
            ("second-instance", self.second_instance),
            ("notice-dismissed", self.dismiss, "HalVern Firmware Tool is"), ("close", self.close))
        started, failed, self.deadline = time.monotonic(), 0, time.monotonic() + RUN_TIMEOUT_S
        try:
            self.prepare()
            self.demo = self.start_demo("--describe-widgets", self.describe_path)
            for name, action, *args in steps:
                self.step(name, action, *args)
            say(f"the run took {time.monotonic() - started:.1f} s; screenshots in {self.out}")
        except (StepFailed, subprocess.TimeoutExpired, OSError) as error:
            print(f"e2e: FAILED at step {self.step_name}: {error}", file=sys.stderr)
            with suppress(Exception):  # the X server may be what failed
                self.screenshot(f"{self.step_name}-failed")
            print("e2e: last lines of the demo's log:", *self.log().splitlines()[-40:],
                  sep="\n    ", file=sys.stderr)
            failed = 1
        finally:
            self.stop_all()
        say(f"{self.steps_passed} passed, {failed} failed")
        return failed

    def step(self, name, action, *args):
        self.step_name, self.mark, started = name, len(self.log()), time.monotonic()
        action(*args)
        self.screenshot(name)
        self.steps_passed += 1
        say(f"{self.shots:02d}-{name} ok ({time.monotonic() - started:.1f} s)")

    def catalog(self):
        self.widget("MainWindow")
        line = self.wait_log(r"firmawreInfoChanged.*", since=0)
        missing = [version for version in ("5.7.3", "5.7.0", "5.6.2") if version not in line]
        self.expect(not missing, f"catalog line without {', '.join(missing)}: {line}")
        # The catalog fetch ended: the start page has given way.
        self.wait("the start page to go", lambda: self.find("MainWindow/page_Unconnected") or
                  self.find("MainWindow/page_Connected"), 10)

    def first_connection(self):
        # Opened by the start-up connection or by the arrival, whichever comes first.
        self.wait_log(OPENED, since=0)
        self.widget("MainWindow/page_Connected")
        self.widget("MainWindow/label_CurrentVersion", "5.6.0")
        self.widget("MainWindow/comboBox_Version", "5.7.3", enabled=True)

    def drag(self):
        # The window has no frame: held on its title with the left button, it follows the
        # pointer, there and back, and stays where it is let go.
        for dx, dy in ((60, 40), (-60, -40)):
            start, title = self.widget("MainWindow"), self.widget("MainWindow/label_Title")
            x, y = title.x + 20, title.y + title.height // 2
            self.tool("xdotool", "mousemove", str(x), str(y), "mousedown", "1", "sleep", "0.2",
                      "mousemove", str(x + dx // 2), str(y + dy // 2), "sleep", "0.2",
                      "mousemove", str(x + dx), str(y + dy), "sleep", "0.2", "mouseup", "1")
            moved = lambda: (self.find("MainWindow") or start)[:2] == (start.x + dx, start.y + dy)
            self.wait(f"the window to move by {dx}, {dy}", moved, 5)

    def file_dialog(self):
        # Qt's own file dialog opens inside the window: the window's style must not reach it.
        # A firmware file enables "Open", so both buttons show their text as the user reads it;
        # Escape below leaves it unopened.
        self.click("MainWindow/toolButton_OpenFile")
        self.type_path(f"{self.out}/tmp/FirmwareV5.7.3.bin")
        box = self.widget("QFileDialog/buttonBox", enabled=True, timeout=5)
        time.sleep(0.5)
        shot = f"{self.out}/file-dialog-contrast.png"
        self.tool("import", "-silent", "-window", "root", shot)
        # The buttons stand one above the other, beside the name and the filter.
        half = box.height // 2
        for index, button in enumerate(("Open", "Cancel")):
            ratio = self.text_contrast(shot, box.x, box.y + index * half, box.width, half)
            say(f"  file dialog {button}: text contrast {ratio:.1f}:1")
            self.expect(ratio >= 4.5, f"{button}'s text contrast {ratio:.1f}:1 is under 4.5:1")
        self.close_file_dialog("Escape")
        self.dismiss("Empty file or wrong version!")

    def update(self):
        self.click("MainWindow/pushButton_Update")
        for line in (r"firmware_file_path .*5\.7\.3", r"=updateFirmware= true",
                     r"updateFirmware_v2"):
            self.wait_log(line)
        self.widget("MessageDialog/textBrowser", "Update successfully!", timeout=90)
        self.wait_log(r"updateVersion Finished 5\.7\.3", timeout=5)
        self.not_logged(r"write2Flash stopped|erase error", "update")
        self.widget("SimulatedAdapterWindow/label_State", "firmware 5.7.3", timeout=5)

    def through_file_dialog(self, button, *patterns, timeout=20):
        # Backup and restore: the button asks for a file, the work ends with the settings
        # dialog closed and a message up.
        self.click(f"SettingsDialog/{button}")
        self.type_path(self.backup_path)
        self.screenshot(f"{self.step_name}-file-dialog")
        self.expect(self.close_file_dialog("Return"), "the file dialog did not take the path")
        for pattern in patterns:
            self.wait_log(pattern)
        self.widget("MessageDialog/textBrowser", "successfully!", timeout=timeout)
        self.expect(self.find("SettingsDialog") is None, "the settings dialog stayed open")

    def backup(self):
        self.click("MainWindow/toolButton_Settings")
        self.widget("SettingsDialog/pushButton_DataBackup", enabled=True)
        # The image is read first (a few seconds over the modelled link), then saved.
        self.through_file_dialog("pushButton_DataBackup", r"sn_md5 [0-9a-f]{32}")
        size = os.path.getsize(self.backup_path) if os.path.exists(self.backup_path) else None
        self.expect(size == BACKUP_SIZE, f"backup file size {size}, expected {BACKUP_SIZE}")

    def boot_mode(self):
        # A change after the backup, for the restore to undo.
        self.click("MainWindow/toolButton_Settings")
        self.widget("SettingsDialog/pushButton_DataBackup", enabled=True)
        self.pick("SettingsDialog/comboBox", "Down")
        self.wait_log(r"bootModeChanged 1")
        self.widget("MessageDialog/textBrowser", "successfully!")
        self.widget("SimulatedAdapterWindow/label_State", "boot mode 1", timeout=5)

    def restore(self):
        self.through_file_dialog("pushButton_DataRestore", r"file_md5 [0-9a-f]{32}",
                                 r"dataRestore\.\.\.\. 5\.7\.3 5\.7\.3 true", timeout=60)
        self.not_logged(r"restore refused|write2Flash stopped|Corrupted file", "restore")
        # The backup held boot mode 0: the restore wrote it back.
        self.widget("SimulatedAdapterWindow/label_State", "boot mode 0", timeout=5)

    def switch_language(self, key, index, name):
        before = self.find("MainWindow/pushButton_Update").text
        self.pick("MainWindow/comboBox_Languages", *[key] * 4)
        self.wait(f"the language {index} stored", lambda: re.search(
            rf"^CurrentLanguage={index}\b", read(self.settings_path), re.M), 5)
        self.widget("MainWindow/comboBox_Languages", name, enabled=True, timeout=5)
        # The window retranslated itself: its button reads differently.
        self.wait("the update button retranslated",
                  lambda: self.find("MainWindow/pushButton_Update").text != before, 5)
        after = self.find("MainWindow/pushButton_Update").text
        # Leaving English, its text is kept; back in English, the button reads it again.
        if index:
            self.english = before
        self.expect(index or after == self.english, f"button reads {after!r}, not {self.english!r}")
        say(f"  update button: {before!r} -> {after!r}")

    def unplug(self):
        self.click("SimulatedAdapterWindow/pushButton_Unplug")
        self.wait_log(r"nativeEventFilter closed\.")
        self.widget("MainWindow/page_Unconnected")
        self.expect(self.find("MainWindow/page_Connected") is None, "still connected")
        self.widget("SimulatedAdapterWindow/label_State", "unplugged", timeout=5)

    def replug(self):
        self.click("SimulatedAdapterWindow/pushButton_Plug")
        self.wait_log(OPENED)
        self.widget("MainWindow/page_Connected")
        self.widget("MainWindow/label_CurrentVersion", "5.7.3")

    def second_instance(self):
        log_path, started = f"{self.out}/second.log", time.monotonic()
        # Still running after 15 s fails the step through the time-out.
        code = self.start_demo(log_path=log_path).wait(timeout=15)
        say(f"  the second demo exited with {code} after {time.monotonic() - started:.1f} s")
        second_log = read(log_path)[-2000:]
        self.expect(code == 0 and "demo: another instance runs" in second_log,
                    f"the second demo exited with {code} without finding the first:\n{second_log}")
        self.expect(self.find("MainWindow") is not None, "the first demo's window went away")
        # With English chosen, the English catalog words the notice this way.
        self.widget("MessageDialog/textBrowser", "HalVern Firmware Tool is running!", timeout=10)
        self.widget("MessageDialog/label_Title", "Message")

    def close(self):
        self.click("MainWindow/toolButton_Close")
        # Not ended within 20 s fails the step through the time-out.
        self.expect(self.demo.wait(timeout=20) == 0, f"the demo exited with {self.demo.returncode}")
        line = self.wait_log(r"demo: adapter at exit: .*", timeout=2)
        self.expect(line.endswith(END_STATE), f"unexpected end state: {line}")
        say(f"  {line}")


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description="Drives the demo in a real X server.")
    parser.add_argument("--build", required=True, help="the build directory")
    # Stopped from outside: still end the demo.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    sys.exit(Driver(parser.parse_args().build).run())
