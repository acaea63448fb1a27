"""Installs Quillon like a desktop program and runs it from there: builds a
Release tree of the source in <build>/package-build, makes the .deb with
cpack, installs it with dpkg, starts the launcher /usr/bin/quillon for a user
whose home is a scratch folder, and checks that the launcher makes the user's
data root from the installed template, that the program draws and writes
only there, and that Esc ends it with status 0; that the installed
quillon-import puts a playlist into that root, or makes the root from the
template for a user who has none, and quillon-check-data finds it sound.
Then it removes the package again and checks the launcher and the importer
from a moved copy of the installed files, and how the launcher fails.

Needs root (dpkg); CI runs as root. Leaves no package installed."""

import glob
import hashlib
import os
import shutil
import subprocess
import sys
import time

import harness
from harness import Failure, check, wait_until

PACKAGE = "quillon"
LAUNCHER = "/usr/bin/quillon"
PROGRAM = "/usr/libexec/quillon/quillon"
TEMPLATE = "/usr/share/quillon/VESTRALUME"
IMPORTER = "/usr/bin/quillon-import"
CHECKER = "/usr/bin/quillon-check-data"
UPGRADER = "/usr/libexec/quillon/quillon-upgrade-root"
INSTALLED = [LAUNCHER, PROGRAM, UPGRADER, TEMPLATE + "/n/b.txt", TEMPLATE + "/links.tsv",
             TEMPLATE + "/version.txt",
             "/usr/share/doc/quillon/copyright", "/usr/share/doc/quillon/changelog.gz",
             "/usr/share/man/man1/quillon.1.gz", "/usr/share/man/man1/quillon-check-data.1.gz",
             "/usr/share/man/man1/quillon-import.1.gz", IMPORTER, CHECKER,
             "/usr/share/metainfo/example.quillon.Quillon.metainfo.xml",
             "/usr/share/applications/quillon.desktop",
             "/usr/share/icons/hicolor/48x48/apps/quillon.png",
             "/usr/share/icons/hicolor/256x256/apps/quillon.png",
             "/usr/share/icons/hicolor/scalable/apps/quillon.svg"]
# What the package puts under /usr, copied for the moved-prefix run.
PACKAGE_TREE = ["bin/quillon", "bin/quillon-import", "libexec/quillon", "share/quillon"]

started = time.monotonic()


def step(text):
    print("[%5.1f s] %s" % (time.monotonic() - started, text), flush=True)


def run(*command, cwd=None, env=None):
    result = subprocess.run(list(command), cwd=cwd, env=env, capture_output=True, text=True)
    if result.returncode != 0:
        raise Failure("%s failed with status %d:\n%s\n%s" % (
            " ".join(command), result.returncode, result.stdout[-3000:], result.stderr[-3000:]))
    return result.stdout


# dpkg without an fsync of each of the package's 8000 files: the tests
# check what is installed, not that it outlives a power cut.
DPKG = ["dpkg", "--force-unsafe-io"]


def build_package(args):
    """A Release build of the source without tests or sanitizers, and its .deb."""
    build = os.path.join(args.build, "package-build")
    step("configuring the package build in " + build)
    run("cmake", "-S", args.source, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
        "-DQUILLON_TESTS=OFF", "-DQUILLON_BENCH=OFF", "-DQUILLON_SANITIZE=OFF",
        "-DQUILLON_FUZZ=OFF")
    step("building it")
    run("cmake", "--build", build, "-j2")
    for old in glob.glob(os.path.join(build, "quillon_*.deb")):
        os.remove(old)
    step("making the package")
    run("cpack", "-G", "DEB", cwd=build)
    debs = glob.glob(os.path.join(build, "quillon_*.deb"))
    check(len(debs) == 1, "cpack made %s, expected one quillon_*.deb" % debs)
    return debs[0]


def check_package_fields(deb, folder):
    fields = run("dpkg-deb", "-f", deb, "Package", "Depends", "Recommends", "Maintainer",
                 "Description")
    step("package fields:\n" + fields.rstrip())
    check("Package: quillon\n" in fields, "package name")
    check("Maintainer: " in fields, "no maintainer")
    depends = fields.split("Depends:", 1)[1].split("\n", 1)[0]
    for needed in ["xdg-utils", "libc6", "libjpeg", "libglut", "libplib", "libcurl"]:
        check(needed in depends, "Depends lacks %s: %s" % (needed, depends))
    check("Recommends: mpv\n" in fields, "the package does not recommend mpv")
    check("libasan" not in depends and "libubsan" not in depends,
          "the package depends on the sanitizer runtimes: " + depends)
    # The packaged program itself carries no sanitizer.
    extracted = os.path.join(folder, "deb")
    run("dpkg-deb", "-x", deb, extracted)
    with open(os.path.join(extracted, PROGRAM.lstrip("/")), "rb") as f:
        program = f.read()
    check(b"__asan_init" not in program and b"__ubsan_handle" not in program,
          "the packaged program is built with sanitizers")
    shutil.rmtree(extracted)


# What lintian may still say of the package, with the reason:
# - no-symbols-control-file etc. do not apply to a program without libraries;
# - the data root template holds thousands of small JPEG files under their
#   own extension, which lintian cannot tell from anything else.
LINTIAN_ALLOWED = {
    "package-contains-documentation-outside-usr-share-doc",  # the template's own text files
    "executable-not-elf-or-script",
    "extra-license-file",
}


def start_lintian(deb, folder):
    """lintian on the package, started in the background: over the
    template's thousands of files it takes most of a minute, which the rest
    of the test spends installing and using the package (lintian only reads
    the .deb). Its report goes to a file in `folder`; check_lintian reads
    the verdict."""
    if shutil.which("lintian") is None:
        step("lintian is missing; scripts/setup installs it")
        raise Failure("lintian is not installed")
    report = os.path.join(folder, "lintian.txt")
    with open(report, "w") as out:
        process = subprocess.Popen(["lintian", "--no-tag-display-limit", deb], stdout=out,
                                   stderr=subprocess.DEVNULL)
    process.report = report
    return process


def check_lintian(lintian):
    """The package is clean of lintian's errors and warnings, but for the
    ones LINTIAN_ALLOWED explains."""
    lintian.wait(timeout=600)
    with open(lintian.report, encoding="utf-8", errors="replace") as f:
        output = f.read()
    step("lintian:\n" + (output.strip() or "(nothing)"))
    problems = [line for line in output.splitlines()
                if line[:2] in ("E:", "W:") and line.split()[2] not in LINTIAN_ALLOWED]
    check(problems == [], "lintian reports:\n" + "\n".join(problems))


def newer_package(deb, folder):
    """The same package as version <version>.1 with a changed delivered model,
    a changed placeholder picture and a new delivered directory entry, as a
    newer release would bring them."""
    tree = os.path.join(folder, "newer")
    run("dpkg-deb", "-R", deb, tree)
    control = os.path.join(tree, "DEBIAN", "control")
    with open(control) as f:
        fields = f.read()
    version = fields.split("Version: ", 1)[1].split("\n", 1)[0]
    newer = version + ".1"
    with open(control, "w") as f:
        f.write(fields.replace("Version: " + version, "Version: " + newer))
    md5sums = os.path.join(tree, "DEBIAN", "md5sums")
    if os.path.exists(md5sums):
        os.remove(md5sums)
    template = os.path.join(tree, TEMPLATE.lstrip("/"))
    harness.write(template, "version.txt", newer + "\n")
    with open(os.path.join(template, "n", "w.txt"), "a") as f:
        f.write("# a model delivered by " + newer + "\n")
    shutil.copy(os.path.join(template, "i", "2.jpg"), os.path.join(template, "i", "1.jpg"))
    with open(os.path.join(template, "links.tsv"), "a") as f:
        f.write("1291\thttps://newer.example/p/new.html\n")
    target = os.path.join(folder, "quillon_%s_amd64.deb" % newer)
    # Compressed with gzip, as cpack compresses the package itself: dpkg-deb's
    # own choice, xz, takes a minute for the template's 8000 pictures.
    run("dpkg-deb", "-b", "-Zgzip", "--root-owner-group", tree, target)
    shutil.rmtree(tree)
    return target, newer


PLAYLIST = """#EXTM3U
#EXTINF:-1 tvg-name="First",First channel
https://streams.example/first/index.m3u8
#EXTINF:-1,Second channel
rtsp://streams.example/second
"""


def use_and_upgrade(server, folder, deb, home, root):
    """A user adds a favourite and imports a playlist; a newer package is
    installed; the next start brings its delivered files and keeps all that
    the user did."""
    user_dir = os.path.dirname(root)
    env = user_env(home)
    app = start_and_check_drawn(server, LAUNCHER, folder, env, PROGRAM, user_dir)
    try:
        app.key("a")
        wait_until(lambda: harness.read(root, "n/d.txt").strip() == "1", 10, 0.1,
                   "the favourite to be added")
        quit_with_escape(app)
    finally:
        app.stop()
    favourite = (harness.read(root, "2/1.txt"), os.path.getsize(os.path.join(root, "2/1.Quillon")))
    imported = os.path.exists("/usr/bin/quillon-import")
    if imported:
        harness.write(folder, "channels.m3u", PLAYLIST)
        step("importing a playlist with the installed quillon-import")
        subprocess.run(["/usr/bin/quillon-import", os.path.join(folder, "channels.m3u")],
                       env=dict(os.environ, HOME=home, XDG_CACHE_HOME=os.path.join(home, "cache")),
                       check=True, capture_output=True, timeout=300)
        check(harness.read(root, "1/count.txt").strip() == "2", "the import did not take")
    state = {name: harness.read(root, "n/" + name) for name in ("b.txt", "d.txt", "u.txt", "z1.txt")}
    links_before = harness.read(root, "links.tsv")
    catalogue = harness.read(root, "1/1.txt")

    newer_deb, newer = newer_package(deb, folder)
    step("upgrading to " + os.path.basename(newer_deb))
    run(*DPKG, "-i", newer_deb)
    app = start_and_check_drawn(server, LAUNCHER, folder, env, PROGRAM, user_dir)
    try:
        check("was brought up to date" in app.output(),
              "the launcher did not say it upgraded the root:\n" + app.output())
        check(harness.read(root, "version.txt") == newer + "\n", "the root's version")
        for name in ("n/w.txt", "i/1.jpg"):
            with open(os.path.join(TEMPLATE, name), "rb") as a, open(os.path.join(root, name), "rb") as b:
                check(a.read() == b.read(), "the newer delivered %s did not arrive" % name)
        links = harness.read(root, "links.tsv")
        check("1291\thttps://newer.example/p/new.html\n" in links, "the new directory entry")
        for line in links_before.splitlines():
            check(line + "\n" in links or line.startswith("#") or not line.strip(),
                  "the directory lost %r" % line)
        check(harness.read(root, "2/1.txt") == favourite[0] and
              os.path.getsize(os.path.join(root, "2/1.Quillon")) == favourite[1],
              "the favourite changed")
        check(harness.read(root, "1/1.txt") == catalogue, "the catalogue changed")
        if imported:
            check(harness.read(root, "1/count.txt").strip() == "2", "the imported catalogue is lost")
        for name, text in state.items():
            check(harness.read(root, "n/" + name) == text, "n/%s changed in the upgrade" % name)
        check(leftovers(user_dir) == [], "upgrade leftovers: %s" % leftovers(user_dir))
        quit_with_escape(app)
    finally:
        app.stop()
    result = subprocess.run(["/usr/bin/quillon-check-data", user_dir], capture_output=True, text=True)
    check(result.returncode == 0, "the upgraded root is not sound:\n" + result.stdout)
    # A root from a newer version than the installed one is left alone.
    harness.write(root, "version.txt", "99.0\n")
    result = subprocess.run([UPGRADER, TEMPLATE, user_dir], capture_output=True, text=True)
    check(result.returncode == 0 and "made by a newer Quillon (99.0)" in result.stderr,
          "a newer root: %d %s" % (result.returncode, result.stderr))
    check(harness.read(root, "version.txt") == "99.0\n", "a newer root was changed")
    harness.write(root, "version.txt", newer + "\n")


def snapshot(root):
    """Every file and folder under root with its size, mode and time, and the
    contents of the state files, to tell whether anything wrote there."""
    listing = {}
    for parent, folders, files in os.walk(root):
        for name in folders + files:
            path = os.path.join(parent, name)
            info = os.lstat(path)
            listing[os.path.relpath(path, root)] = (info.st_size, info.st_mode, info.st_mtime_ns)
    for path in glob.glob(os.path.join(root, "n", "*.txt")):
        with open(path, "rb") as f:
            listing["sha256 " + os.path.relpath(path, root)] = hashlib.sha256(f.read()).hexdigest()
    return listing


def files_under(root):
    return sorted(os.path.relpath(os.path.join(parent, name), root)
                  for parent, _, files in os.walk(root) for name in files)


def leftovers(user_dir):
    return [name for name in os.listdir(user_dir) if name.startswith(".VESTRALUME")] \
        if os.path.isdir(user_dir) else []


def user_env(home):
    """The environment of a user whose home is `home` and who set no
    XDG_DATA_HOME."""
    os.environ.pop("XDG_DATA_HOME", None)
    return {"HOME": home}


def start_and_check_drawn(server, launcher, cwd, env, program, data_folder, shot=None):
    """Starts the launcher and checks that the program it became runs in
    data_folder and draws its wall."""
    app = harness.Quillon(server, launcher, cwd, env)
    pid = app.process.pid
    check(os.path.realpath("/proc/%d/exe" % pid) == program,
          "the launcher started %s, expected %s" % (os.path.realpath("/proc/%d/exe" % pid),
                                                    program))
    check(os.path.realpath("/proc/%d/cwd" % pid) == os.path.realpath(data_folder),
          "the program runs in %s, expected %s" % (os.path.realpath("/proc/%d/cwd" % pid),
                                                   data_folder))
    width, height = app.geometry()
    check((width, height) == (harness.SCREEN_W, harness.SCREEN_H),
          "window is %dx%d" % (width, height))

    def drawn():
        centre = app.screenshot().average(width // 2, height // 2, 20)
        return sum(centre) > 60

    wait_until(drawn, 30, 0.3, "the wall to be drawn")
    if shot:
        app.screenshot(shot)
    return app


def quit_with_escape(app):
    app.key("Escape")
    status = app.wait_exit()
    check(status == 0, "Esc ended the program with status %s:\n%s" % (status, app.output()))


def run_installed(server, folder):
    """The first and only run from the installed package."""
    home = os.path.join(folder, "home")
    elsewhere = os.path.join(folder, "elsewhere")
    os.makedirs(home)
    os.makedirs(elsewhere)
    user_dir = os.path.join(home, ".local", "share", "quillon")
    root = os.path.join(user_dir, "VESTRALUME")

    step("first run of " + LAUNCHER)
    app = start_and_check_drawn(server, LAUNCHER, elsewhere, user_env(home), PROGRAM, user_dir,
                                os.path.join(folder, "installed.png"))
    try:
        check(files_under(root) == files_under(TEMPLATE),
              "the user's data root is not a full copy of the template")
        check(leftovers(user_dir) == [], "copy leftovers: %s" % leftovers(user_dir))
        check("making your data folder " + root in app.output(),
              "the launcher did not say it made the data folder:\n" + app.output())
        # A key that changes state writes into the user's root.
        app.key("Right")
        wait_until(lambda: harness.read(root, "n/b.txt").strip() == "2", 10, 0.1,
                   "the selection to move to tile 2 in the user's root")
        quit_with_escape(app)
    finally:
        app.stop()
    return home, root


def import_playlist(folder, importer, env, what, checker=CHECKER):
    """Imports a small playlist with an installed importer into the user's own
    root (no --root) and checks the root with the installed checker."""
    playlist = os.path.join(folder, "channels.m3u")
    harness.write(folder, "channels.m3u", "#EXTM3U\n" + "".join(
        "#EXTINF:-1,Channel %d\nhttps://tv.example/%d.m3u8\n" % (n, n) for n in range(1, 21)))
    full_env = {k: v for k, v in os.environ.items() if k not in ("HOME", "XDG_DATA_HOME")}
    full_env.update(env)
    full_env["XDG_CACHE_HOME"] = os.path.join(folder, "cache")
    result = subprocess.run([importer, playlist], env=full_env, capture_output=True, text=True,
                            timeout=300)
    step("%s: status %d\n%s%s" % (what, result.returncode, result.stdout, result.stderr))
    check(result.returncode == 0, "%s failed" % what)
    data = env.get("XDG_DATA_HOME") or os.path.join(env["HOME"], ".local", "share")
    user_dir = os.path.join(data, "quillon")
    check(harness.read(user_dir, "VESTRALUME/1/count.txt") == "20\n", what + ": no catalogue of 20")
    checked = subprocess.run([checker, user_dir], capture_output=True, text=True)
    check(checked.returncode == 0, "%s: the checker finds:\n%s" % (what, checked.stdout))
    return result.stderr


def check_removed():
    status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", PACKAGE],
                            capture_output=True, text=True).stdout
    check("install ok installed" not in status, "still installed: " + status)
    for path in [LAUNCHER, IMPORTER, CHECKER, "/usr/libexec/quillon", "/usr/share/quillon",
                 "/usr/share/applications/quillon.desktop"]:
        check(not os.path.lexists(path), path + " is left after removing the package")


def run_moved(server, folder, prefix, home, root):
    """The launcher from a moved copy of the installed files, started through a
    symbolic link, with the package (and so its fallback paths) removed: it
    finds the program and the template beside itself, and reuses the root the
    first run made."""
    links = os.path.join(folder, "links")
    os.makedirs(links)
    os.symlink(os.path.join(prefix, "bin", "quillon"), os.path.join(links, "quillon"))
    step("second run, from the moved prefix " + prefix)
    user_dir = os.path.dirname(root)
    app = start_and_check_drawn(server, os.path.join(links, "quillon"), folder, user_env(home),
                                os.path.join(prefix, "libexec", "quillon", "quillon"), user_dir)
    try:
        check("making your data folder" not in app.output(),
              "the second run made the data folder again:\n" + app.output())
        check(harness.read(root, "n/b.txt").strip() == "2",
              "the selection of the first run is lost")
        quit_with_escape(app)
    finally:
        app.stop()


# A stand-in for cp: copies part of the root, then fails, or then has the
# launcher interrupted (as by Ctrl+C in its terminal or a logout).
BROKEN_COPY = """#!/bin/sh
for target; do :; done
mkdir -p "$target/n" && echo 1 > "$target/n/b.txt"
case $QUILLON_TEST_COPY in
    fail) echo "cp: writing: No space left on device" >&2; exit 1 ;;
    interrupt) kill -TERM $PPID; exit 1 ;;
esac
"""


def check_launcher_failures(folder, prefix):
    """What the launcher does when it cannot make or use the data root: a clear
    message, a failure status, no program started and no half root."""
    launcher = os.path.join(prefix, "bin", "quillon")
    shims = os.path.join(folder, "shims")
    os.makedirs(shims)
    with open(os.path.join(shims, "cp"), "w") as f:
        f.write(BROKEN_COPY)
    os.chmod(os.path.join(shims, "cp"), 0o755)
    blocked = os.path.join(folder, "blocked")
    harness.write(folder, "blocked", "a file where a folder should be")
    lonely = os.path.join(folder, "lonely", "bin")
    os.makedirs(lonely)
    shutil.copy(launcher, lonely)

    base = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "XDG_DATA_HOME")}
    cases = [  # (name, launcher, environment changes, status, message, data folder)
        ("data folder cannot be made", launcher,
         {"XDG_DATA_HOME": os.path.join(blocked, "share")}, 1,
         "quillon: cannot create the folder " + os.path.join(blocked, "share", "quillon"), None),
        ("copy fails half way", launcher,
         {"XDG_DATA_HOME": os.path.join(folder, "full"), "QUILLON_TEST_COPY": "fail",
          "PATH": shims + ":" + os.environ["PATH"]}, 1,
         "quillon: could not copy", os.path.join(folder, "full", "quillon")),
        ("copy interrupted", launcher,
         {"XDG_DATA_HOME": os.path.join(folder, "cut"), "QUILLON_TEST_COPY": "interrupt",
          "PATH": shims + ":" + os.environ["PATH"]}, 143,
         "", os.path.join(folder, "cut", "quillon")),
        ("root is a file", launcher,
         {"XDG_DATA_HOME": os.path.join(folder, "odd")}, 1,
         os.path.join(folder, "odd", "quillon", "VESTRALUME") + " is not a folder", None),
        ("no home", launcher, {"HOME": None}, 1,
         "quillon: neither HOME nor XDG_DATA_HOME is set", None),
        ("program missing", os.path.join(lonely, "quillon"),
         {"XDG_DATA_HOME": os.path.join(folder, "lonely-data")}, 1,
         "quillon: the program or its data are missing", None),
    ]
    harness.write(folder, "odd/quillon/VESTRALUME", "not a folder")
    for name, command, changes, status, message, user_dir in cases:
        env = dict(base)
        for key, value in changes.items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        result = subprocess.run([command], cwd=folder, env=env, capture_output=True, text=True,
                                timeout=60)
        step("launcher, %s: status %d, %s" % (name, result.returncode, result.stderr.strip()))
        check(result.returncode == status,
              "%s: status %d, expected %d" % (name, result.returncode, status))
        check(message in result.stderr, "%s: no message %r in %r" % (name, message,
                                                                      result.stderr))
        if user_dir:
            check(not os.path.lexists(os.path.join(user_dir, "VESTRALUME")),
                  "%s: a half data root was left in place" % name)
            check(leftovers(user_dir) == [], "%s: copy leftovers %s" % (name,
                                                                          leftovers(user_dir)))
    check(not os.path.exists(os.path.join(folder, "lonely-data")),
          "a launcher without its program made a data folder")


def check_simultaneous_first_runs(folder, prefix):
    """Two first runs at once for the same user end with one complete root
    and nothing else; no display, so the program they start ends at once."""
    launcher = os.path.join(prefix, "bin", "quillon")
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    env["XDG_DATA_HOME"] = os.path.join(folder, "twice")
    runs = [subprocess.Popen([launcher], cwd=folder, env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE, text=True) for _ in range(2)]
    errors = [run.communicate(timeout=120)[1] for run in runs]
    step("launcher, two first runs at once: statuses %s" % [run.returncode for run in runs])
    user_dir = os.path.join(folder, "twice", "quillon")
    template = os.path.join(prefix, "share", "quillon", "VESTRALUME")
    check(files_under(os.path.join(user_dir, "VESTRALUME")) == files_under(template),
          "two first runs made a damaged root:\n" + "\n".join(errors))
    check(sorted(os.listdir(user_dir)) == ["VESTRALUME"],
          "two first runs left %s" % os.listdir(user_dir))


def test(args, server, folder):
    deb = build_package(args)
    check_package_fields(deb, folder)
    lintian = start_lintian(deb, folder)
    try:
        use_package(args, server, folder, deb)
        check_lintian(lintian)
    finally:
        if lintian.poll() is None:
            lintian.kill()
            lintian.wait()
    step("done")


def use_package(args, server, folder, deb):
    """Installs the package, uses, upgrades and removes it, and tries the
    launcher and the importer from a moved copy of its files."""
    step("installing " + os.path.basename(deb))
    run(*DPKG, "-i", deb)
    prefix = os.path.join(folder, "opt")
    try:
        for path in INSTALLED:
            check(os.path.exists(path), path + " is not installed")
        check(os.access(LAUNCHER, os.X_OK), "the launcher is not executable")
        before = snapshot(TEMPLATE)
        home, root = run_installed(server, folder)
        check(snapshot(TEMPLATE) == before, "the installed template was written")
        check(snapshot(root) != before, "the user's root is unchanged")
        # The importer: into the root the launcher made (its selection stays),
        # and for a user without one, made from the template first.
        import_playlist(folder, IMPORTER, user_env(home), "importing into the launcher's root")
        check(harness.read(root, "n/b.txt").strip() == "2", "the import lost the selection")
        told = import_playlist(folder, IMPORTER, {"HOME": os.path.join(folder, "home2")},
                               "importing for a user without a data root")
        check("making your data folder" in told, "the importer did not make the data folder")
        check(snapshot(TEMPLATE) == before, "the importer wrote into the installed template")
        use_and_upgrade(server, folder, deb, home, root)
        for path in PACKAGE_TREE:
            target = os.path.join(prefix, os.path.dirname(path))
            os.makedirs(target, exist_ok=True)
            run("cp", "-a", os.path.join("/usr", path), target + "/")
    finally:
        step("removing the package")
        run(*DPKG, "-r", PACKAGE)
    check_removed()
    run_moved(server, folder, prefix, home, root)
    import_playlist(folder, os.path.join(prefix, "bin", "quillon-import"),
                    {"HOME": home, "XDG_DATA_HOME": os.path.join(folder, "moved-data")},
                    "importing with the moved importer",
                    checker=os.path.join(args.build, "tools", "quillon-check-data"))
    check_launcher_failures(folder, prefix)
    check_simultaneous_first_runs(folder, prefix)


if __name__ == "__main__":
    if os.geteuid() != 0:
        print("SKIP: installing the package needs root (dpkg -i); CI runs as root")
        sys.exit(0)
    if shutil.which("dpkg") is None or shutil.which("cpack") is None:
        print("SKIP: dpkg or cpack is missing; this test needs a Debian machine")
        sys.exit(0)
    harness.main(test)
