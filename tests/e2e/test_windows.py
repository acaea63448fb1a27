"""The Windows build under wine: builds the program and its installer with
scripts/windows (the libraries come from its cache), then, in a private
Xvfb and a wine prefix of the build folder:

- starts quillon.exe on the sample data root and checks the window's size,
  that the wall's pixels are those the Linux program draws in a window of
  the same size on the same root, that an arrow key and Page Down change the
  page and the state files exactly as on Linux, that Enter hands the same
  addresses to the desktop (a stand-in xdg-open on PATH, where wine's
  browser hand-over ends, records them), that Esc ends it with status 0, and
  that a restart shows the page as it was left;
- installs the installer silently, starts the installed launcher, which
  makes the user's data root under %LOCALAPPDATA% from the template, and
  uninstalls silently.

Skips (status 77) only when wine cannot run a Windows program here."""

import os
import shutil
import subprocess
import sys
import time

import harness
from harness import Failure, check, wait_until

SKIPPED = 77
started = time.monotonic()


def step(text):
    print("[%6.1f s] %s" % (time.monotonic() - started, text), flush=True)


class Wine:
    """A wine prefix of the build folder, used inside one X server."""

    def __init__(self, server, prefix, extra_env):
        self.server = server
        self.prefix = prefix
        self.env = {"WINEPREFIX": prefix, "WINEARCH": "win64", "WINEDEBUG": "-all",
                    # No downloads of wine's .NET and HTML engines.
                    "WINEDLLOVERRIDES": "mscoree,mshtml="}
        self.env.update(extra_env)

    def run(self, *args, timeout=120):
        return subprocess.run(["wine"] + list(args), env=self.server.env(self.env),
                              capture_output=True, text=True, timeout=timeout)

    def folders(self, *names):
        """The Unix paths of the folders that these Windows environment
        variables name, as the programs under wine see them."""
        echoed = self.run("cmd", "/c", "echo " + "^|".join("%" + n + "%" for n in names)).stdout
        windows_paths = echoed.strip().split("|")
        check(len(windows_paths) == len(names), "cmd echoed %r" % echoed)
        out = subprocess.run(["winepath", "-u"] + windows_paths, env=self.server.env(self.env),
                             capture_output=True, text=True, timeout=120).stdout
        return [line.rstrip("/") for line in out.splitlines()]

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.server.env(self.env),
                       capture_output=True, timeout=60)


class WindowsQuillon(harness.Quillon):
    """A Windows program under wine. Keys go straight to its window: wine
    reads them there, not through the keyboard focus of an X server without
    a window manager. The window is found by its title alone, so a program
    that a launcher starts is found too (the private server shows no other)."""

    def __init__(self, server, wine, exe, folder, start_timeout=60):
        # As harness.Quillon, with room for a first start that copies the
        # data root template first.
        self.server = server
        self.folder = folder
        self.log_path = os.path.join(folder, "quillon.log")
        self.log = open(self.log_path, "ab")
        self.process = subprocess.Popen(["wine", exe], cwd=folder, env=server.env(wine.env),
                                        stdout=self.log, stderr=subprocess.STDOUT)
        self.window = None
        self.window = wait_until(self._find_window, start_timeout, what="the Quillon window")

    def _find_window(self):
        if self.process.poll() is not None:
            raise Failure("the program ended during start-up with status %s:\n%s"
                          % (self.process.returncode, self.output()))
        out = self.server.run("xdotool", "search", "--onlyvisible", "--name", "^Quillon$",
                              check_status=False)
        ids = out.split()
        return ids[0] if ids else None

    def key(self, *names, delay_ms=60):
        for name in names:
            self.server.run("xdotool", "key", "--window", self.window, name)
            time.sleep(delay_ms / 1000)


def build(args):
    folder = os.path.join(args.build, "windows")
    step("building the Windows program and installer with scripts/windows")
    result = subprocess.run([os.path.join(args.source, "scripts", "windows"), "--build", folder,
                             "--template", os.path.join(args.build, "template", "VESTRALUME")],
                            capture_output=True, text=True)
    for line in result.stdout.splitlines() + result.stderr.splitlines():
        if line.startswith(("windows:", "build-libraries:")):
            print("    " + line, flush=True)
    if result.returncode != 0:
        raise Failure("scripts/windows failed with status %d:\n%s\n%s" % (
            result.returncode, result.stdout[-4000:], result.stderr[-4000:]))
    installers = [f for f in os.listdir(folder) if f.endswith("-setup.exe")]
    check(len(installers) == 1, "expected one installer in %s, found %s" % (folder, installers))
    return folder, os.path.join(folder, "program", "quillon.exe"), os.path.join(folder, installers[0])


def recorder(folder):
    """A stand-in xdg-open that appends its arguments to a file; returns the
    PATH to use and a function reading what it recorded."""
    bin_folder = os.path.join(folder, "recorder-bin")
    log = os.path.join(folder, "opened.txt")
    os.makedirs(bin_folder, exist_ok=True)
    script = os.path.join(bin_folder, "xdg-open")
    with open(script, "w") as f:
        f.write("#!/bin/sh\nprintf '%%s\\t%%s\\n' \"$#\" \"$1\" >> '%s'\n" % log)
    os.chmod(script, 0o755)

    def opened():
        if not os.path.exists(log):
            return []
        with open(log) as f:
            return [line.rstrip("\n") for line in f]
    return bin_folder + ":" + os.environ.get("PATH", ""), opened


def settled_shot(app, folder, path):
    """A screenshot once the state files are quiet and the wall has drawn
    every thumbnail of the page (a refresh swaps one tile per frame)."""
    harness.wait_settled(folder, quiet=1.5)
    time.sleep(1.5)
    return app.screenshot(path)


def differing(a, b, width, height, step_px=3, tolerance=8):
    """Points of a grid over the window where two screenshots differ by more
    than `tolerance` in a channel, and the number of points compared."""
    bad = []
    total = 0
    for y in range(1, height - 1, step_px):
        for x in range(1, width - 1, step_px):
            total += 1
            if not harness.close_colour(a.pixel(x, y), b.pixel(x, y), tolerance):
                bad.append((x, y, a.pixel(x, y), b.pixel(x, y)))
    return bad, total


def check_same_picture(a, b, width, height, what):
    bad, total = differing(a, b, width, height)
    step("%s: %d of %d points differ" % (what, len(bad), total))
    # Both draw with the same Mesa renderer; an edge pixel may round apart.
    check(len(bad) <= total // 1000, "%s: %d of %d points differ, first %s"
          % (what, len(bad), total, bad[:5]))


def visible_size(app, screen_w, screen_h):
    """The part of the window that lies on the screen, in window pixels."""
    x, y, w, h = app.placement()
    return min(w, screen_w - max(x, 0)), min(h, screen_h - max(y, 0))


def program_test(args, server, scratch, wine, exe):
    windows_folder = os.path.join(scratch, "windows-run")
    linux_folder = os.path.join(scratch, "linux-run")
    for folder in (windows_folder, linux_folder):
        os.makedirs(folder)
        harness.make_sample_root(args, folder)
    path, opened = recorder(scratch)
    wine.env["PATH"] = path

    step("starting quillon.exe under wine")
    app = WindowsQuillon(server, wine, exe, windows_folder)
    linux_server = None
    linux_app = None
    try:
        x, y, width, height = app.placement()
        step("window at (%d, %d), %d x %d" % (x, y, width, height))
        # Windows holds a window's outer height to the screen's plus its
        # frame, so the drawing area is the screen less the title bar high.
        check(width == harness.SCREEN_W, "window is %d wide, the screen %d" % (width, harness.SCREEN_W))
        check(harness.SCREEN_H - 60 <= height <= harness.SCREEN_H and y + height >= harness.SCREEN_H,
              "window is %d high at y %d on a screen %d high" % (height, y, harness.SCREEN_H))

        # The Linux program in a screen of exactly the Windows drawing area.
        linux_server = harness.XServer(width, height)
        linux_path, linux_opened = recorder(os.path.join(scratch, "linux-recorder"))
        linux_app = harness.Quillon(linux_server, args.quillon, linux_folder, env={"PATH": linux_path})
        check(linux_app.geometry() == (width, height), "Linux window %s" % (linux_app.geometry(),))
        shown_w, shown_h = visible_size(app, harness.SCREEN_W, harness.SCREEN_H)

        first = settled_shot(app, windows_folder, os.path.join(scratch, "windows-start.png"))
        linux_first = settled_shot(linux_app, linux_folder, os.path.join(scratch, "linux-start.png"))
        check(sum(first.average(width // 2, height // 2, 20)) > 60, "the wall is not drawn")
        check_same_picture(first, linux_first, shown_w, shown_h, "the first page")

        before = harness.state_snapshot(windows_folder)
        for program in (app, linux_app):
            program.key("Right")
            program.key("Next")
        harness.wait_settled(windows_folder, quiet=1.5)
        harness.wait_settled(linux_folder, quiet=1.5)
        after = harness.state_snapshot(windows_folder)
        check(after["b.txt"] != before["b.txt"], "the arrow key changed no selection")
        check(after["z1.txt"] != before["z1.txt"], "Page Down changed no page")
        check(after == harness.state_snapshot(linux_folder),
              "the state files differ from the Linux program's after the same keys: %s" % sorted(
                  name for name in after if after[name] != harness.state_snapshot(linux_folder).get(name)))
        step("Right and Page Down: selection %s -> %s, page %s -> %s, state files as on Linux" % (
            before["b.txt"].decode().strip(), after["b.txt"].decode().strip(),
            before["z1.txt"].decode().split()[0], after["z1.txt"].decode().split()[0]))
        left = settled_shot(app, windows_folder, os.path.join(scratch, "windows-page-down.png"))
        linux_left = settled_shot(linux_app, linux_folder, os.path.join(scratch, "linux-page-down.png"))
        check_same_picture(left, linux_left, shown_w, shown_h, "the page after Page Down")
        bad, total = differing(first, left, shown_w, shown_h)
        check(len(bad) > total // 20, "the wall did not change after Page Down")

        for program in (app, linux_app):
            program.key("Return")
        windows_addresses = wait_until(lambda: opened() or None, 60, 0.2,
                                       "wine to hand the address to xdg-open")
        linux_addresses = wait_until(lambda: linux_opened() or None, 30, 0.2,
                                     "the Linux program to open the address")
        time.sleep(2)  # a second address (the product page) may follow
        windows_addresses, linux_addresses = opened(), linux_opened()
        step("Enter opened %s" % windows_addresses)
        # Each address goes to a handler process of its own; they may record
        # in either order.
        check(sorted(windows_addresses) == sorted(linux_addresses),
              "Enter handed over %s, the Linux program %s" % (windows_addresses, linux_addresses))
        check(all(line.startswith("1\thttps://") for line in windows_addresses),
              "not one https address per call: %s" % windows_addresses)

        last = settled_shot(app, windows_folder, None)
        app.key("Escape")
        status = app.wait_exit(60)
        check(status == 0, "Esc ended the program with status %s" % status)
        step("Esc: status 0")
    finally:
        app.stop()
        if linux_app:
            linux_app.stop()
        if linux_server:
            linux_server.close()

    step("starting it again")
    again = WindowsQuillon(server, wine, exe, windows_folder)
    try:
        restarted = settled_shot(again, windows_folder, os.path.join(scratch, "windows-restart.png"))
        check_same_picture(restarted, last, shown_w, shown_h, "the page after a restart")
        again.key("Escape")
        check(again.wait_exit(60) == 0, "Esc after the restart")
    finally:
        again.stop()


def installer_test(args, server, scratch, wine, installer):
    program_files, local, program_data = wine.folders("ProgramFiles", "LOCALAPPDATA", "ProgramData")
    program_files = os.path.join(program_files, "Quillon")
    user_folder = os.path.join(local, "Quillon")
    start_menu = os.path.join(program_data, "Microsoft", "Windows", "Start Menu", "Programs",
                              "Quillon.lnk")
    # A prefix that an earlier, interrupted run left installed starts clean.
    for leftover in (program_files, user_folder):
        shutil.rmtree(leftover, ignore_errors=True)

    step("installing silently")
    result = wine.run(installer, "/S", timeout=600)
    check(result.returncode == 0, "the installer ended with status %d" % result.returncode)
    # An installer that cannot run may still end with status 0: look at the files.
    installed = ["quillon.exe", "program/quillon.exe", "template/VESTRALUME/links.tsv",
                 "template/VESTRALUME/n/b.txt", "uninstall.exe", "licenses/plib-COPYING",
                 "licenses/Quillon-LICENSE.txt", "licenses/SOURCE.txt", "licenses/relink"]
    for name in installed:
        check(os.path.isfile(os.path.join(program_files, name)), "not installed: " + name)
    check(os.path.isfile(start_menu), "no Start-menu entry at " + start_menu)
    template_files = sum(len(files) for _, _, files in os.walk(
        os.path.join(program_files, "template", "VESTRALUME")))
    made_files = sum(len(files) for _, _, files in os.walk(
        os.path.join(args.build, "windows", "template", "VESTRALUME")))
    check(template_files == made_files, "the template has %d files installed, %d made"
          % (template_files, made_files))
    step("installed: %d template files, Start-menu entry" % template_files)

    step("starting the installed program")
    launcher = os.path.join(program_files, "quillon.exe")
    first_start = time.monotonic()
    app = WindowsQuillon(server, wine, launcher, scratch, start_timeout=600)
    step("the window came %.1f s after the first start" % (time.monotonic() - first_start))
    try:
        wait_until(lambda: sum(app.screenshot().average(900, 500, 20)) > 60, 60, 0.5,
                   "the installed program to draw")
        app.screenshot(os.path.join(scratch, "installed.png"))
        root = os.path.join(user_folder, "VESTRALUME")
        check(os.path.isfile(os.path.join(root, "n", "b.txt")), "no user data root at " + root)
        check(not [n for n in os.listdir(user_folder) if n.startswith(".VESTRALUME.")],
              "the hidden copy was left beside the root")
        app.key("Right")
        wait_until(lambda: harness.read(user_folder, "VESTRALUME/n/b.txt").strip() == "2", 30,
                   what="the installed program to write the user's root")
        check(harness.read(program_files, "template/VESTRALUME/n/b.txt") ==
              harness.read(os.path.join(args.build, "windows", "template"), "VESTRALUME/n/b.txt"),
              "the installed template was written")
        app.key("Escape")
        check(app.wait_exit(60) == 0, "the launcher did not end with the program's status 0")
    finally:
        app.stop()
    step("the installed program made %s and ended with status 0" % root)

    step("uninstalling silently")
    result = wine.run(os.path.join(program_files, "uninstall.exe"), "/S", timeout=300)
    check(result.returncode == 0, "the uninstaller ended with status %d" % result.returncode)
    # The uninstaller runs on from a copy of itself; wait for it to finish.
    wait_until(lambda: not os.path.exists(program_files), 120, 0.5, "the uninstaller to finish")
    check(not os.path.exists(start_menu), "the Start-menu entry is left")
    check(os.path.isfile(os.path.join(user_folder, "VESTRALUME", "n", "b.txt")),
          "uninstalling removed the user's data")
    step("uninstalled; the user's data root is kept")


def wine_works(wine):
    try:
        result = wine.run("cmd", "/c", "exit 7", timeout=300)
    except subprocess.TimeoutExpired:
        return "wine did not answer within five minutes"
    except FileNotFoundError:
        return "wine is not installed (scripts/setup installs it)"
    if result.returncode != 7:
        return "wine cannot run a Windows program here (status %d): %s" % (
            result.returncode, result.stderr.strip()[-500:])
    return None


def test(args, server, scratch):
    folder, exe, installer = build(args)
    step("built %s and %s" % (exe, installer))
    wine = Wine(server, os.path.join(folder, "wine"), {})
    step("preparing the wine prefix %s" % wine.prefix)
    reason = wine_works(wine)
    if reason:
        print("SKIP: " + reason)
        sys.exit(SKIPPED)
    try:
        program_test(args, server, scratch, wine, exe)
        installer_test(args, server, scratch, wine, installer)
    finally:
        wine.stop()
    step("done")


if __name__ == "__main__":
    harness.main(test)
