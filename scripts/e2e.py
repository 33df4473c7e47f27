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

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time

TOOL_TIMEOUT_S = 20  # any one xdotool or screenshot call
RUN_TIMEOUT_S = 240  # the whole run; every wait below also has its own

BACKUP_SIZE = 245760 + 16  # a V2 configuration image and its digest
OPENED = r"DeviceFlash open \.\.\. 3642 45938 true"  # vendor 0e3a, product b372


class StepFailed(Exception):
    pass


class Widget:
    def __init__(self, fields):
        self.window, self.name, self.cls = fields[0], fields[1], fields[2]
        self.x, self.y, self.width, self.height = (int(v) for v in fields[3:7])
        self.enabled = fields[7] == "1"
        self.text = unescape(fields[8])

    def centre(self):
        return self.x + self.width // 2, self.y + self.height // 2

    def key(self):
        return (self.x, self.y, self.width, self.height, self.enabled)


def luminance(colour):
    # WCAG relative luminance of an 8-bit sRGB colour.
    def channel(value):
        c = value / 255
        return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4
    r, g, b = (channel(v) for v in colour)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def contrast(a, b):
    high, low = sorted((luminance(a), luminance(b)), reverse=True)
    return (high + 0.05) / (low + 0.05)


def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), text)


class Driver:
    def __init__(self, build):
        self.build = os.path.abspath(build)
        self.binary = os.path.join(self.build, "demo", "halvern-flash-tool-demo")
        self.out = os.path.join(self.build, "e2e")
        self.describe_path = os.path.join(self.out, "widgets.txt")
        self.log_path = os.path.join(self.out, "demo.log")
        self.backup_path = os.path.join(self.out, "backup.bkp")
        self.processes = []
        self.step_number = 0
        self.steps_passed = 0
        self.step_name = "start"
        self.deadline = time.monotonic() + RUN_TIMEOUT_S

    # --- environment -----------------------------------------------------------------------

    def prepare(self):
        if not os.access(self.binary, os.X_OK):
            raise StepFailed(f"no demo binary at {self.binary}")
        if "DISPLAY" not in os.environ:
            raise StepFailed("no DISPLAY: run through scripts/e2e.sh")
        shutil.rmtree(self.out, ignore_errors=True)
        home = os.path.join(self.out, "home")
        runtime = os.path.join(self.out, "runtime")
        temp = os.path.join(self.out, "tmp")
        for folder in (home, runtime, temp):
            os.makedirs(folder, mode=0o700)
        self.data_dir = os.path.join(home, ".local", "share", "HalVern",
                                     "HalVern M7 Firmware Tool Demo")
        env = dict(os.environ)
        # A home of its own: no settings, catalog cache or language from an earlier run, and
        # no running demo of the user's to meet through the single-instance guard.
        env.update({
            "HOME": home,
            "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_RUNTIME_DIR": runtime,
            "TMPDIR": temp,
            "QT_QPA_PLATFORM": "xcb",
            "QT_LOGGING_RULES": "default.debug=true",
            "NO_AT_BRIDGE": "1",
        })
        # Qt's own widget file dialogs and no scaling, whatever the desktop around says.
        for name in ("QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "XDG_CURRENT_DESKTOP",
                     "DESKTOP_SESSION", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
                     "QT_MESSAGE_PATTERN", "QT_FONT_DPI", "QT_ENABLE_HIGHDPI_SCALING"):
            env.pop(name, None)
        self.env = env

    def start_demo(self, *args, log_path=None):
        log = open(log_path or self.log_path, "ab")
        process = subprocess.Popen([self.binary, *args], stdin=subprocess.DEVNULL, stdout=log,
                                   stderr=subprocess.STDOUT, env=self.env,
                                   start_new_session=True)
        log.close()
        self.processes.append(process)
        return process

    def stop_all(self):
        for process in self.processes:
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                    process.wait(timeout=5)
                except (ProcessLookupError, subprocess.TimeoutExpired):
                    try:
                        os.killpg(process.pid, signal.SIGKILL)
                    except ProcessLookupError:
                        pass
                    process.wait()

    # --- observing -------------------------------------------------------------------------

    def log_text(self):
        try:
            with open(self.log_path, encoding="utf-8", errors="replace") as log:
                return log.read()
        except FileNotFoundError:
            return ""

    def log_mark(self):
        return len(self.log_text())

    def widgets(self):
        try:
            with open(self.describe_path, encoding="utf-8") as describe:
                lines = describe.read().splitlines()
        except FileNotFoundError:
            return []
        return [Widget(line.split("\t")) for line in lines if line.count("\t") == 8]

    def find(self, window, name=None):
        for widget in self.widgets():
            if widget.window == window and widget.name == (name or window):
                return widget
        return None

    def wait(self, what, predicate, timeout):
        # Polls predicate until it returns something true; fails the step after timeout.
        end = min(time.monotonic() + timeout, self.deadline)
        while True:
            for process in self.processes[:1]:
                if process.poll() is not None and self.step_name != "close":
                    raise StepFailed(f"the demo ended with {process.returncode} while waiting "
                                     f"for {what}")
            result = predicate()
            if result:
                return result
            if time.monotonic() > end:
                raise StepFailed(f"timed out after {timeout} s waiting for {what}")
            time.sleep(0.05)

    def wait_log(self, pattern, since, timeout=20):
        regex = re.compile(pattern)
        return self.wait(f"log line /{pattern}/",
                         lambda: regex.search(self.log_text(), since), timeout)

    def wait_widget(self, window, name=None, timeout=20, text=None, enabled=True):
        # Waits until the widget is shown (enabled, with text in it) and holds still.
        label = f"{window}/{name or window}" + (f" showing {text!r}" if text else "")
        last = {}

        def ready():
            widget = self.find(window, name)
            if not widget or (enabled and not widget.enabled) or \
                    (text is not None and text not in widget.text):
                last.clear()
                return None
            # Shown in the description as soon as Qt shows it; the X server maps it a moment
            # later, so a click waits until the place has been the same for a while.
            now = time.monotonic()
            if last.get("key") != widget.key():
                last.update(key=widget.key(), since=now)
            return widget if now - last["since"] >= 0.3 else None

        return self.wait(label, ready, timeout)

    def wait_gone(self, window, name=None, timeout=20):
        return self.wait(f"{window}/{name or window} to close",
                         lambda: self.find(window, name) is None, timeout)

    def expect(self, condition, message):
        if not condition:
            raise StepFailed(message)

    # --- acting ----------------------------------------------------------------------------

    def tool(self, *args):
        result = subprocess.run(args, env=self.env, capture_output=True, text=True,
                                timeout=TOOL_TIMEOUT_S)
        if result.returncode != 0:
            raise StepFailed(f"{' '.join(args)} failed: {result.stderr.strip()}")

    def click(self, window, name=None, timeout=20):
        widget = self.wait_widget(window, name, timeout)
        x, y = widget.centre()
        # No --sync: it waits for a movement that never comes when the pointer is already
        # there. The server handles the fake motion before the fake click anyway.
        self.tool("xdotool", "mousemove", str(x), str(y), "click", "1")
        return widget

    def keys(self, *names):
        self.tool("xdotool", "key", "--delay", "60", *names)

    def type_text(self, text):
        self.tool("xdotool", "type", "--delay", "20", "--", text)

    def pick_from_popup(self, combo_window, combo, *keys):
        # Opens a combo box with a click and chooses with keys in its list.
        self.click(combo_window, combo)
        self.wait_widget("QComboBoxPrivateContainer", enabled=False, timeout=5)
        self.keys(*keys, "Return")
        self.wait_gone("QComboBoxPrivateContainer", timeout=5)

    def answer_file_dialog(self, path):
        # Types the path into the file dialog's name line and presses Enter.
        self.wait_widget("QFileDialog", "fileNameEdit", timeout=60)
        self.click("QFileDialog", "fileNameEdit")
        self.keys("ctrl+a")
        self.type_text(path)
        self.wait_widget("QFileDialog", "fileNameEdit", text=path, timeout=5)
        self.screenshot(f"{self.step_name}-file-dialog")
        if not self.close_file_dialog("Return"):
            raise StepFailed(f"the file dialog did not take {path}")

    def close_file_dialog(self, key):
        # Presses the key until the file dialog is gone: the name line's completer may have
        # opened its list, which takes the first press.
        for _ in range(3):
            self.keys(key)
            try:
                self.wait_gone("QFileDialog", timeout=2)
                return True
            except StepFailed:
                continue
        return False

    def dismiss_message(self, text):
        self.wait_widget("MessageDialog", "textBrowser", text=text, enabled=False)
        self.click("MessageDialog", "pushButton_MsgOK")
        self.wait_gone("MessageDialog")

    def screenshot(self, name):
        self.step_number += 1
        path = os.path.join(self.out, f"{self.step_number:02d}-{name}.png")
        self.tool("import", "-silent", "-window", "root", path)

    def step(self, name, action):
        self.step_name = name
        started = time.monotonic()
        action()
        self.screenshot(name)
        self.steps_passed += 1
        print(f"e2e: {self.step_number:02d}-{name} ok ({time.monotonic() - started:.1f} s)",
              flush=True)

    # --- the flow --------------------------------------------------------------------------

    def run(self):
        self.prepare()
        self.demo = self.start_demo("--describe-widgets", self.describe_path)
        self.step("catalog", self.check_catalog)
        self.step("connected", self.check_connected)
        self.step("file-dialog", self.check_file_dialog)
        self.step("update", self.update_from_catalog)
        self.step("update-dismissed", lambda: self.dismiss_message("Update successfully!"))
        self.step("backup", self.backup)
        self.step("backup-dismissed", lambda: self.dismiss_message("successfully!"))
        self.step("boot-mode", self.change_boot_mode)
        self.step("boot-mode-dismissed", lambda: self.dismiss_message("successfully!"))
        self.step("restore", self.restore)
        self.step("restore-dismissed", lambda: self.dismiss_message("successfully!"))
        self.step("french", lambda: self.switch_language("Down", 4, "Français"))
        self.step("english", lambda: self.switch_language("Up", 0, "English"))
        self.step("unplugged", self.unplug)
        self.step("replugged", self.replug)
        self.step("second-instance", self.second_instance)
        self.step("notice-dismissed", lambda: self.dismiss_message("HalVern Firmware Tool is"))
        self.step("close", self.close)

    def check_catalog(self):
        self.wait_widget("MainWindow", enabled=False)
        line = self.wait_log(r"firmawreInfoChanged.*", 0).group(0)
        for version in ("5.7.3", "5.7.0", "5.6.2"):
            self.expect(version in line, f"catalog line without {version}: {line}")
        # The catalog fetch ended: the start page has given way.
        self.wait(r"the start page to go",
                  lambda: self.find("MainWindow", "page_Unconnected") or
                  self.find("MainWindow", "page_Connected"), 10)

    def check_connected(self):
        # Opened by the start-up connection or by the arrival, whichever comes first.
        self.wait_log(OPENED, 0)
        self.wait_widget("MainWindow", "page_Connected", enabled=False)
        self.wait_widget("MainWindow", "label_CurrentVersion", text="5.6.0", enabled=False)
        self.wait_widget("MainWindow", "comboBox_Version", text="5.7.3")

    def text_contrast(self, shot, x, y, width, height):
        # The contrast of a button's text: its face is the area's commonest colour, its text
        # the colour, among those covering enough of the area to be glyphs, farthest from it.
        result = subprocess.run(
            ["convert", shot, "-crop", f"{width}x{height}+{x}+{y}", "+repage", "-depth", "8",
             "-format", "%c", "histogram:info:-"],
            capture_output=True, text=True, timeout=TOOL_TIMEOUT_S, check=True)
        counts = []
        for line in result.stdout.splitlines():
            found = re.match(r"\s*(\d+):\s*\(\s*(\d+),\s*(\d+),\s*(\d+)", line)
            if found:
                counts.append((int(found.group(1)), tuple(int(v) for v in found.group(2, 3, 4))))
        face = max(counts)[1]
        enough = width * height // 500
        return max(contrast(face, colour) for count, colour in counts if count >= enough)

    def check_file_dialog(self):
        # Qt's own file dialog opens inside the window: the window's style must not reach it.
        self.click("MainWindow", "toolButton_OpenFile")
        self.wait_widget("QFileDialog", "fileNameEdit", timeout=30)
        self.click("QFileDialog", "fileNameEdit")
        # A firmware file enables "Open", so both buttons show their text as the user reads it;
        # Escape below leaves it unopened.
        path = os.path.join(self.out, "tmp", "FirmwareV5.7.3.bin")
        open(path, "wb").close()
        self.type_text(path)
        self.wait_widget("QFileDialog", "fileNameEdit", text=path, timeout=5)
        box = self.wait_widget("QFileDialog", "buttonBox", timeout=5)
        time.sleep(0.5)
        shot = os.path.join(self.out, "file-dialog-contrast.png")
        self.tool("import", "-silent", "-window", "root", shot)
        # The buttons stand one above the other, beside the name and the filter.
        half = box.height // 2
        for index, button in enumerate(("Open", "Cancel")):
            ratio = self.text_contrast(shot, box.x, box.y + index * half, box.width, half)
            print(f"e2e:   file dialog {button}: text contrast {ratio:.1f}:1", flush=True)
            self.expect(ratio >= 4.5, f"the file dialog's {button} text contrasts "
                                      f"{ratio:.1f}:1 only, less than 4.5:1")
        self.close_file_dialog("Escape")
        self.dismiss_message("Empty file or wrong version!")

    def update_from_catalog(self):
        mark = self.log_mark()
        self.click("MainWindow", "pushButton_Update")
        self.wait_log(r"firmware_file_path .*5\.7\.3", mark, timeout=20)
        self.wait_log(r"=updateFirmware= true", mark, timeout=20)
        self.wait_log(r"updateFirmware_v2", mark, timeout=20)
        self.wait_widget("MessageDialog", "textBrowser", text="Update successfully!",
                         enabled=False, timeout=90)
        self.wait_log(r"updateVersion Finished 5\.7\.3", mark, timeout=5)
        self.expect(not re.search(r"write2Flash stopped|erase error", self.log_text()[mark:]),
                    "the update logged a flash failure")
        self.wait_widget("SimulatedAdapterWindow", "label_State", text="firmware 5.7.3",
                         enabled=False, timeout=5)

    def open_settings(self):
        self.click("MainWindow", "toolButton_Settings")
        self.wait_widget("SettingsDialog", "pushButton_DataBackup")

    def backup(self):
        self.open_settings()
        mark = self.log_mark()
        self.click("SettingsDialog", "pushButton_DataBackup")
        # The image is read first (a few seconds over the modelled link), then saved.
        self.answer_file_dialog(self.backup_path)
        self.wait_log(r"sn_md5 [0-9a-f]{32}", mark)
        self.wait_widget("MessageDialog", "textBrowser", text="successfully!", enabled=False)
        self.expect(self.find("SettingsDialog") is None, "the settings dialog stayed open")
        size = os.path.getsize(self.backup_path) if os.path.exists(self.backup_path) else None
        self.expect(size == BACKUP_SIZE, f"backup file size {size}, expected {BACKUP_SIZE}")

    def change_boot_mode(self):
        # A change after the backup, for the restore to undo.
        self.open_settings()
        mark = self.log_mark()
        self.pick_from_popup("SettingsDialog", "comboBox", "Down")
        self.wait_log(r"bootModeChanged 1", mark)
        self.wait_widget("MessageDialog", "textBrowser", text="successfully!", enabled=False)
        self.wait_widget("SimulatedAdapterWindow", "label_State", text="boot mode 1",
                         enabled=False, timeout=5)

    def restore(self):
        mark = self.log_mark()
        self.click("SettingsDialog", "pushButton_DataRestore")
        self.answer_file_dialog(self.backup_path)
        self.wait_log(r"file_md5 [0-9a-f]{32}", mark)
        self.wait_log(r"dataRestore\.\.\.\. 5\.7\.3 5\.7\.3 true", mark)
        self.wait_widget("MessageDialog", "textBrowser", text="successfully!", enabled=False,
                         timeout=60)
        self.expect(self.find("SettingsDialog") is None, "the settings dialog stayed open")
        self.expect(not re.search(r"restore refused|write2Flash stopped|Corrupted file",
                                  self.log_text()[mark:]), "the restore logged a failure")
        # The backup held boot mode 0: the restore wrote it back.
        self.wait_widget("SimulatedAdapterWindow", "label_State", text="boot mode 0",
                         enabled=False, timeout=5)

    def stored_language(self):
        path = os.path.join(self.data_dir, "halvernflashtool.ini")
        try:
            with open(path, encoding="utf-8") as settings:
                found = re.search(r"^CurrentLanguage=(\d+)", settings.read(), re.M)
        except FileNotFoundError:
            return None
        return int(found.group(1)) if found else None

    def switch_language(self, key, index, name):
        before = self.find("MainWindow", "pushButton_Update").text
        self.pick_from_popup("MainWindow", "comboBox_Languages", *[key] * 4)
        self.wait(f"the language {index} stored", lambda: self.stored_language() == index, 5)
        self.wait_widget("MainWindow", "comboBox_Languages", text=name, timeout=5)
        # The window retranslated itself: its button reads differently.
        self.wait("the update button retranslated",
                  lambda: self.find("MainWindow", "pushButton_Update").text != before, 5)
        update = self.find("MainWindow", "pushButton_Update").text
        if index == 0:
            self.expect(update == self.english_update,
                        f"update button reads {update!r}, not {self.english_update!r}")
        else:
            self.english_update = before
        print(f"e2e:   update button: {before!r} -> {update!r}", flush=True)

    def unplug(self):
        mark = self.log_mark()
        self.click("SimulatedAdapterWindow", "pushButton_Unplug")
        self.wait_log(r"nativeEventFilter closed\.", mark)
        self.wait_widget("MainWindow", "page_Unconnected", enabled=False)
        self.expect(self.find("MainWindow", "page_Connected") is None, "still connected")
        self.wait_widget("SimulatedAdapterWindow", "label_State", text="unplugged",
                         enabled=False)

    def replug(self):
        mark = self.log_mark()
        self.click("SimulatedAdapterWindow", "pushButton_Plug")
        self.wait_log(OPENED, mark)
        self.wait_widget("MainWindow", "page_Connected", enabled=False)
        self.wait_widget("MainWindow", "label_CurrentVersion", text="5.7.3", enabled=False)

    def second_instance(self):
        log_path = os.path.join(self.out, "second.log")
        started = time.monotonic()
        second = self.start_demo(log_path=log_path)
        try:
            code = second.wait(timeout=15)
        except subprocess.TimeoutExpired:
            raise StepFailed("the second demo is still running after 15 s")
        print(f"e2e:   the second demo exited with {code} after "
              f"{time.monotonic() - started:.1f} s", flush=True)
        with open(log_path, encoding="utf-8", errors="replace") as log:
            second_log = log.read()
        self.expect(code == 0, f"the second demo exited with {code}:\n{second_log[-2000:]}")
        self.expect("demo: another instance runs" in second_log,
                    f"the second demo did not find the first:\n{second_log[-2000:]}")
        self.expect(self.find("MainWindow") is not None, "the first demo's window went away")
        # With English chosen, the English catalog words the notice this way.
        self.wait_widget("MessageDialog", "textBrowser", text="HalVern Firmware Tool is running!",
                         enabled=False, timeout=10)
        self.wait_widget("MessageDialog", "label_Title", text="Message", enabled=False)

    def close(self):
        mark = self.log_mark()
        self.click("MainWindow", "toolButton_Close")
        try:
            code = self.demo.wait(timeout=20)
        except subprocess.TimeoutExpired:
            raise StepFailed("the demo did not end within 20 s of its close button")
        self.expect(code == 0, f"the demo exited with {code}")
        line = self.wait_log(r"demo: adapter at exit: .*", mark, timeout=2).group(0)
        expected = ("plugged in | firmware 5.7.3 | layout V2 | boot mode 0 | "
                    "configuration intact")
        self.expect(line.endswith(expected), f"unexpected end state: {line}")
        print(f"e2e:   {line}", flush=True)

    def fail_report(self, error):
        print(f"e2e: FAILED at step {self.step_name}: {error}",
              file=sys.stderr)
        try:
            self.screenshot(f"{self.step_name}-failed")
        except Exception:  # the X server may be what failed
            pass
        tail = self.log_text().splitlines()[-40:]
        print("e2e: last lines of the demo's log:", file=sys.stderr)
        for line in tail:
            print(f"    {line}", file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description="Drives the demo in a real X server.")
    parser.add_argument("--build", required=True, help="the build directory")
    args = parser.parse_args()

    # Stopped from outside: still end the demo.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    driver = Driver(args.build)
    started = time.monotonic()
    try:
        driver.run()
    except (StepFailed, subprocess.TimeoutExpired, OSError) as error:
        driver.fail_report(error)
        print(f"e2e: {driver.steps_passed} passed, 1 failed")
        return 1
    finally:
        driver.stop_all()
    print(f"e2e: the run took {time.monotonic() - started:.1f} s; screenshots in {driver.out}")
    print(f"e2e: {driver.steps_passed} passed, 0 failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
