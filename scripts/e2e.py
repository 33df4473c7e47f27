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
# Qt's own widget file dialogs and no scaling, whatever the desktop around says.
DESKTOP_VARIABLES = ("QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "XDG_CURRENT_DESKTOP",
                     "DESKTOP_SESSION", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
                     "QT_MESSAGE_PATTERN", "QT_FONT_DPI", "QT_ENABLE_HIGHDPI_SCALING")


class StepFailed(Exception):
    pass


class Widget:
    def __init__(self, fields):
        self.window, self.name, self.cls = fields[:3]
        self.x, self.y, self.width, self.height = (int(v) for v in fields[3:7])
        self.enabled = fields[7] == "1"
        self.text = re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)),
                           fields[8])
        self.key = (self.x, self.y, self.width, self.height, self.enabled)


def contrast(a, b):
    # WCAG contrast ratio of two 8-bit sRGB colours.
    def luminance(colour):
        r, g, b = (c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4
                   for c in (v / 255 for v in colour))
        return 0.2126 * r + 0.7152 * g + 0.0722 * b
    high, low = sorted((luminance(a), luminance(b)), reverse=True)
    return (high + 0.05) / (low + 0.05)


class Driver:
    def __init__(self, build):
        self.build = os.path.abspath(build)
        self.binary = os.path.join(self.build, "demo", "halvern-flash-tool-demo")
        self.out = os.path.join(self.build, "e2e")
        self.describe_path = os.path.join(self.out, "widgets.txt")
        self.log_path = os.path.join(self.out, "demo.log")
        self.backup_path = os.path.join(self.out, "backup.bkp")
        self.processes = []
        self.step_number = self.steps_passed = 0
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
        for folder in (home, os.path.join(self.out, "runtime"), os.path.join(self.out, "tmp")):
            os.makedirs(folder, mode=0o700)
        share = os.path.join(home, ".local", "share")
        self.data_dir = os.path.join(share, "HalVern", "HalVern M7 Firmware Tool Demo")
        # A home of its own: no settings, catalog cache or language from an earlier run, and
        # no running demo of the user's to meet through the single-instance guard.
        self.env = {name: value for name, value in os.environ.items()
                    if name not in DESKTOP_VARIABLES}
        self.env.update({
            "HOME": home, "XDG_DATA_HOME": share,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_RUNTIME_DIR": os.path.join(self.out, "runtime"),
            "TMPDIR": os.path.join(self.out, "tmp"), "QT_QPA_PLATFORM": "xcb",
            "QT_LOGGING_RULES": "default.debug=true", "NO_AT_BRIDGE": "1",
        })

    def start_demo(self, *args, log_path=None):
        with open(log_path or self.log_path, "ab") as log:
            process = subprocess.Popen([self.binary, *args], stdin=subprocess.DEVNULL,
                                       stdout=log, stderr=subprocess.STDOUT, env=self.env,
                                       start_new_session=True)
        self.processes.append(process)
        return process

    def stop_all(self):
        for process in (p for p in self.processes if p.poll() is None):
            for sig in (signal.SIGTERM, signal.SIGKILL):
                try:
                    os.killpg(process.pid, sig)
                    process.wait(timeout=5)
                    break
                except (ProcessLookupError, subprocess.TimeoutExpired):
                    continue

    # --- observing -------------------------------------------------------------------------

    def log_text(self):
        try:
            with open(self.log_path, encoding="utf-8", errors="replace") as log:
                return log.read()
        except FileNotFoundError:
            return ""

    def find(self, window, name=None):
        try:
            with open(self.describe_path, encoding="utf-8") as describe:
                lines = describe.read().splitlines()
        except FileNotFoundError:
            return None
        widgets = (Widget(line.split("\t")) for line in lines if line.count("\t") == 8)
        return next((w for w in widgets if (w.window, w.name) == (window, name or window)), None)

    def wait(self, what, predicate, timeout):
        # Polls predicate until it returns something true; fails the step after timeout.
        end = min(time.monotonic() + timeout, self.deadline)
        while True:
            if self.processes[0].poll() is not None and self.step_name != "close":
                raise StepFailed(f"the demo ended with {self.processes[0].returncode} while "
                                 f"waiting for {what}")
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
        # Waits until the widget is shown (enabled, with text in it) and holds still: it is in
        # the description as soon as Qt shows it, and the X server maps it a moment later.
        label = f"{window}/{name or window}" + (f" showing {text!r}" if text else "")
        last = {}

        def ready():
            widget = self.find(window, name)
            if not widget or (enabled and not widget.enabled) or \
                    (text is not None and text not in widget.text):
                last.clear()
                return None
            now = time.monotonic()
            if last.get("key") != widget.key:
                last.update(key=widget.key, since=now)
            return widget if now - last["since"] >= 0.3 else None

        return self.wait(label, ready, timeout)

    def wait_gone(self, window, name=None, timeout=20):
        return self.wait(f"{window}/{name or window} to close",
                         lambda: self.find(window, name) is None, timeout)

    def wait_message(self, text, timeout=20):
        return self.wait_widget("MessageDialog", "textBrowser", text=text, enabled=False,
                                timeout=timeout)

    def wait_adapter(self, state):
        self.wait_widget("SimulatedAdapterWindow", "label_State", text=state, enabled=False,
                         timeout=5)

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
        x, y = widget.x + widget.width // 2, widget.y + widget.height // 2
        # No --sync: it waits for a movement that never comes when the pointer is already
        # there. The server handles the fake motion before the fake click anyway.
        self.tool("xdotool", "mousemove", str(x), str(y), "click", "1")

    def keys(self, *names):
        self.tool("xdotool", "key", "--delay", "60", *names)

    def type_into_file_dialog(self, path):
        self.wait_widget("QFileDialog", "fileNameEdit", timeout=60)
        self.click("QFileDialog", "fileNameEdit")
        self.keys("ctrl+a")
        self.tool("xdotool", "type", "--delay", "20", "--", path)
        self.wait_widget("QFileDialog", "fileNameEdit", text=path, timeout=5)

    def pick_from_popup(self, combo_window, combo, *keys):
        # Opens a combo box with a click and chooses with keys in its list.
        self.click(combo_window, combo)
        self.wait_widget("QComboBoxPrivateContainer", enabled=False, timeout=5)
        self.keys(*keys, "Return")
        self.wait_gone("QComboBoxPrivateContainer", timeout=5)

    def answer_file_dialog(self, path):
        self.type_into_file_dialog(path)
        self.screenshot(f"{self.step_name}-file-dialog")
        if not self.close_file_dialog("Return"):
            raise StepFailed(f"the file dialog did not take {path}")

    def close_file_dialog(self, key):
        # Presses the key until the file dialog is gone: the name line's completer may have
        # opened its list, which takes the first press.
        for _ in range(3):
            self.keys(key)
            try:
                return self.wait_gone("QFileDialog", timeout=2)
            except StepFailed:
                continue
        return False

    def dismiss_message(self, text):
        self.wait_message(text)
        self.click("MessageDialog", "pushButton_MsgOK")
        self.wait_gone("MessageDialog")

    def screenshot(self, name, path=None):
        self.step_number += 1
        self.tool("import", "-silent", "-window", "root",
                  path or os.path.join(self.out, f"{self.step_number:02d}-{name}.png"))

    def step(self, name, action, *args):
        self.step_name = name
        started = time.monotonic()
        action(*args)
        self.screenshot(name)
        self.steps_passed += 1
        print(f"e2e: {self.step_number:02d}-{name} ok ({time.monotonic() - started:.1f} s)",
              flush=True)

    # --- the flow --------------------------------------------------------------------------

    def run(self):
        self.prepare()
        self.demo = self.start_demo("--describe-widgets", self.describe_path)
        success = "successfully!"
        for name, action, *args in (
                ("catalog", self.check_catalog), ("connected", self.check_connected),
                ("file-dialog", self.check_file_dialog), ("update", self.update_from_catalog),
                ("update-dismissed", self.dismiss_message, "Update successfully!"),
                ("backup", self.backup), ("backup-dismissed", self.dismiss_message, success),
                ("boot-mode", self.change_boot_mode),
                ("boot-mode-dismissed", self.dismiss_message, success),
                ("restore", self.restore), ("restore-dismissed", self.dismiss_message, success),
                ("french", self.switch_language, "Down", 4, "Français"),
                ("english", self.switch_language, "Up", 0, "English"),
                ("unplugged", self.unplug), ("replugged", self.replug),
                ("second-instance", self.second_instance),
                ("notice-dismissed", self.dismiss_message, "HalVern Firmware Tool is"),
                ("close", self.close)):
            self.step(name, action, *args)

    def check_catalog(self):
        self.wait_widget("MainWindow", enabled=False)
        line = self.wait_log(r"firmawreInfoChanged.*", 0).group(0)
        for version in ("5.7.3", "5.7.0", "5.6.2"):
            self.expect(version in line, f"catalog line without {version}: {line}")
        # The catalog fetch ended: the start page has given way.
        self.wait(r"the start page to go", lambda: self.find("MainWindow", "page_Unconnected") or
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
        counts = [(int(m[1]), (int(m[2]), int(m[3]), int(m[4]))) for m in re.finditer(
            r"^\s*(\d+):\s*\(\s*(\d+),\s*(\d+),\s*(\d+)", result.stdout, re.M)]
        face = max(counts)[1]
        return max(contrast(face, colour) for count, colour in counts
                   if count >= width * height // 500)

    def check_file_dialog(self):
        # Qt's own file dialog opens inside the window: the window's style must not reach it.
        # A firmware file enables "Open", so both buttons show their text as the user reads it;
        # Escape below leaves it unopened.
        self.click("MainWindow", "toolButton_OpenFile")
        path = os.path.join(self.out, "tmp", "FirmwareV5.7.3.bin")
        open(path, "wb").close()
        self.type_into_file_dialog(path)
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
        mark = len(self.log_text())
        self.click("MainWindow", "pushButton_Update")
        for line in (r"firmware_file_path .*5\.7\.3", r"=updateFirmware= true",
                     r"updateFirmware_v2"):
            self.wait_log(line, mark)
        self.wait_message("Update successfully!", timeout=90)
        self.wait_log(r"updateVersion Finished 5\.7\.3", mark, timeout=5)
        self.expect(not re.search(r"write2Flash stopped|erase error", self.log_text()[mark:]),
                    "the update logged a flash failure")
        self.wait_adapter("firmware 5.7.3")

    def open_settings(self):
        self.click("MainWindow", "toolButton_Settings")
        self.wait_widget("SettingsDialog", "pushButton_DataBackup")
        return len(self.log_text())

    def backup(self):
        mark = self.open_settings()
        self.click("SettingsDialog", "pushButton_DataBackup")
        # The image is read first (a few seconds over the modelled link), then saved.
        self.answer_file_dialog(self.backup_path)
        self.wait_log(r"sn_md5 [0-9a-f]{32}", mark)
        self.wait_message("successfully!")
        self.expect(self.find("SettingsDialog") is None, "the settings dialog stayed open")
        size = os.path.getsize(self.backup_path) if os.path.exists(self.backup_path) else None
        self.expect(size == BACKUP_SIZE, f"backup file size {size}, expected {BACKUP_SIZE}")

    def change_boot_mode(self):
        # A change after the backup, for the restore to undo.
        mark = self.open_settings()
        self.pick_from_popup("SettingsDialog", "comboBox", "Down")
        self.wait_log(r"bootModeChanged 1", mark)
        self.wait_message("successfully!")
        self.wait_adapter("boot mode 1")

    def restore(self):
        mark = len(self.log_text())
        self.click("SettingsDialog", "pushButton_DataRestore")
        self.answer_file_dialog(self.backup_path)
        self.wait_log(r"file_md5 [0-9a-f]{32}", mark)
        self.wait_log(r"dataRestore\.\.\.\. 5\.7\.3 5\.7\.3 true", mark)
        self.wait_message("successfully!", timeout=60)
        self.expect(self.find("SettingsDialog") is None, "the settings dialog stayed open")
        self.expect(not re.search(r"restore refused|write2Flash stopped|Corrupted file",
                                  self.log_text()[mark:]), "the restore logged a failure")
        # The backup held boot mode 0: the restore wrote it back.
        self.wait_adapter("boot mode 0")

    def stored_language(self):
        try:
            with open(os.path.join(self.data_dir, "halvernflashtool.ini"),
                      encoding="utf-8") as settings:
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
        mark = len(self.log_text())
        self.click("SimulatedAdapterWindow", "pushButton_Unplug")
        self.wait_log(r"nativeEventFilter closed\.", mark)
        self.wait_widget("MainWindow", "page_Unconnected", enabled=False)
        self.expect(self.find("MainWindow", "page_Connected") is None, "still connected")
        self.wait_adapter("unplugged")

    def replug(self):
        mark = len(self.log_text())
        self.click("SimulatedAdapterWindow", "pushButton_Plug")
        self.wait_log(OPENED, mark)
        self.wait_widget("MainWindow", "page_Connected", enabled=False)
        self.wait_widget("MainWindow", "label_CurrentVersion", text="5.7.3", enabled=False)

    def second_instance(self):
        log_path = os.path.join(self.out, "second.log")
        started = time.monotonic()
        try:
            code = self.start_demo(log_path=log_path).wait(timeout=15)
        except subprocess.TimeoutExpired:
            raise StepFailed("the second demo is still running after 15 s")
        print(f"e2e:   the second demo exited with {code} after "
              f"{time.monotonic() - started:.1f} s", flush=True)
        with open(log_path, encoding="utf-8", errors="replace") as log:
            second_log = log.read()[-2000:]
        self.expect(code == 0, f"the second demo exited with {code}:\n{second_log}")
        self.expect("demo: another instance runs" in second_log,
                    f"the second demo did not find the first:\n{second_log}")
        self.expect(self.find("MainWindow") is not None, "the first demo's window went away")
        # With English chosen, the English catalog words the notice this way.
        self.wait_message("HalVern Firmware Tool is running!", timeout=10)
        self.wait_widget("MessageDialog", "label_Title", text="Message", enabled=False)

    def close(self):
        mark = len(self.log_text())
        self.click("MainWindow", "toolButton_Close")
        try:
            code = self.demo.wait(timeout=20)
        except subprocess.TimeoutExpired:
            raise StepFailed("the demo did not end within 20 s of its close button")
        self.expect(code == 0, f"the demo exited with {code}")
        line = self.wait_log(r"demo: adapter at exit: .*", mark, timeout=2).group(0)
        self.expect(line.endswith("plugged in | firmware 5.7.3 | layout V2 | boot mode 0 | "
                                  "configuration intact"), f"unexpected end state: {line}")
        print(f"e2e:   {line}", flush=True)

    def fail_report(self, error):
        print(f"e2e: FAILED at step {self.step_name}: {error}", file=sys.stderr)
        try:
            self.screenshot(f"{self.step_name}-failed")
        except Exception:  # the X server may be what failed
            pass
        print("e2e: last lines of the demo's log:", file=sys.stderr)
        for line in self.log_text().splitlines()[-40:]:
            print(f"    {line}", file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description="Drives the demo in a real X server.")
    parser.add_argument("--build", required=True, help="the build directory")
    # Stopped from outside: still end the demo.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    driver = Driver(parser.parse_args().build)
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
