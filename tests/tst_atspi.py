#!/usr/bin/python3
"""The main window as a screen reader hears it: the real trimlet on a
virtual X display, read over AT-SPI on a D-Bus session of its own.

    tst_atspi.py TRIMLET TOOLS

TRIMLET is the built binary, TOOLS the folder of the stand-in tools. The
run is an automatic one on a stand-in recording whose detector holds at
20 % on its second pass until this script lets it go on. What is heard is
printed, name by name, and compared with the text the window must show
then. Exit 77 (a skip) only where no X server can be started.
"""

import datetime
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import warnings

SKIP = 77
DEADLINE = 60  # seconds for the whole test, the X server's start included
# The stand-in's streams carry languages, which a program stream cannot.
FINAL_STATUS = ("Found 2 commercials. Cut copy: show.clean.mpg (0:04:00), cut by ffmpeg. Frame-exact at all 4 "
                "edges (1.1 s re-encoded). It is a transport stream: a program stream has no place for its "
                "subtitles or its tracks' languages.")
STREAMS = "MPEG-2 352×240 29.97 fps · MP2 stereo · 0:06:00"


class Timeout(Exception):
    def __str__(self):
        return f"out of time (the whole test has {DEADLINE} s)"


def on_alarm(signum, frame):
    raise Timeout()


def say(text):
    print(text, flush=True)


def stop_group(proc, grace=5.0):
    """Ends a child started in a session of its own, and all it started
    there, the leader gone or not."""
    if proc is None:
        return
    try:
        os.killpg(proc.pid, signal.SIGTERM)
    except ProcessLookupError:
        pass
    try:
        proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        pass
    end = time.monotonic() + grace
    while time.monotonic() < end:
        try:
            os.killpg(proc.pid, 0)
        except ProcessLookupError:
            return
        time.sleep(0.05)
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait()


def start_x_server(children, errors):
    """An Xvfb on a display number of its own choosing, added to children,
    its complaints written to errors; None where none starts."""
    read_fd, write_fd = os.pipe()
    try:
        # No reset when the last client leaves: the AT-SPI bus launcher comes
        # and goes as trimlet connects, and a reset then turns it away.
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=errors, start_new_session=True)
    except FileNotFoundError:
        os.close(read_fd)
        say("SKIP: no X server can be started: Xvfb is not installed (./scripts/test installs it)")
        return None
    finally:
        os.close(write_fd)
    children.append(xvfb)
    number = b""
    end = time.monotonic() + 15
    with os.fdopen(read_fd, "rb", buffering=0) as pipe:
        while not number.endswith(b"\n"):
            left = end - time.monotonic()
            if left <= 0 or not select.select([pipe], [], [], left)[0]:
                break
            chunk = pipe.read(16)
            if not chunk:
                break
            number += chunk
    if not number.strip().isdigit():
        stop_group(xvfb)
        errors.seek(0)
        error = errors.read().decode(errors="replace").strip()
        say("SKIP: no X server could be started: " + (error[-2000:] or "Xvfb named no display"))
        return None
    return ":" + number.strip().decode()


def outer(trimlet, tools):
    """Starts the X server and the D-Bus session, runs inner() in them,
    and ends whatever they left."""
    signal.signal(signal.SIGALRM, on_alarm)
    signal.alarm(DEADLINE)
    children = []
    errors = tempfile.TemporaryFile()
    try:
        display = start_x_server(children, errors)
        if display is None:
            return SKIP
        xvfb = children[0]
        say("X server on display " + display)
        env = dict(os.environ, DISPLAY=display)
        for name in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        # The session first in the list: it goes before the X server.
        children.insert(0, subprocess.Popen(
            ["dbus-run-session", "--", sys.executable, os.path.abspath(__file__), "--inner", trimlet, tools],
            env=env, start_new_session=True))
        result = children[0].wait()
        if xvfb.poll() is not None:
            errors.seek(0)
            say(f"FAIL: the X server ended early ({xvfb.returncode}): "
                + errors.read().decode(errors="replace")[-2000:])
            return 1
        return result
    except FileNotFoundError as e:
        say(f"FAIL: {e.filename} is not installed (./scripts/test installs it)")
        return 1
    except Timeout as e:
        say(f"FAIL: {e}")
        return 1
    finally:
        signal.alarm(0)
        for child in children:
            stop_group(child)


# ---- inside the D-Bus session

def last_refreshed():
    """The date the window must show for the package lists, worked out as
    the updater does, in Qt's C locale and UTC, which the run is given."""
    stamp = "/var/lib/apt/periodic/update-success-stamp"
    if os.path.exists(stamp):
        moment = os.stat(stamp).st_mtime
    else:
        times = [e.stat().st_mtime for e in os.scandir("/var/lib/apt/lists")
                 if e.is_file() and not e.name.startswith(".") and e.name != "lock"] \
            if os.path.isdir("/var/lib/apt/lists") else []
        if not times:
            return "never"
        moment = max(times)
    d = datetime.datetime.fromtimestamp(int(moment), tz=datetime.timezone.utc)
    return f"{d.day} {d.strftime('%b %Y %H:%M:%S')}"


def inner(trimlet, tools):
    try:
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi, GLib
    except (ImportError, ValueError) as e:
        say(f"FAIL: Python's AT-SPI bindings (python3-gi, gir1.2-atspi-2.0) are missing: {e}")
        return 1
    # Ahead of the outer limit, so that trimlet and the tools are ended here.
    signal.signal(signal.SIGALRM, on_alarm)
    signal.alarm(DEADLINE - 10)

    Atspi.init()
    work = tempfile.mkdtemp(prefix="trimlet-atspi-")
    runtime = os.path.join(work, "runtime")
    os.mkdir(runtime, 0o700)
    recording = os.path.join(work, "show.mpg")
    with open(recording, "wb") as f:
        f.write(b"recording bytes " * 1000)
    release = os.path.join(work, "release")
    log_path = os.path.join(work, "trimlet.log")
    env = dict(os.environ,
               QT_QPA_PLATFORM="xcb",
               QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
               QT_ACCESSIBILITY="1",
               XDG_RUNTIME_DIR=runtime,
               LC_ALL="C.UTF-8",
               TZ="UTC",
               STANDIN_RELEASE=release,
               PATH=os.pathsep.join([os.path.join(tools, "held"), os.path.join(tools, "standins"),
                                     os.environ.get("PATH", "")]))
    env.pop("STANDIN_MODE", None)

    heard_changes = []

    def on_name_changed(event):
        # The name is asked for as the event is handled, so a change that
        # came quickly after it may be what is heard: the last one is sure.
        name = (event.source.get_name() or "") if event.source else ""
        if name.startswith("Status") and (not heard_changes or heard_changes[-1] != name):
            heard_changes.append(name)

    listener = Atspi.EventListener.new(on_name_changed)
    listener.register("object:property-change:accessible-name")
    context = GLib.MainContext.default()

    def pump():
        while context.iteration(False):
            pass

    def find_app():
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_process_id() == app_proc.pid:
                return app
        return None

    def walk(node, found):
        for i in range(node.get_child_count()):
            child = node.get_child_at_index(i)
            if child is None:
                continue
            found.append(child)
            walk(child, found)
        return found

    def name_of(node):
        node.clear_cache()
        return node.get_name()

    def wait_for(what, test, seconds=20, needed=True):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            pump()
            value = test()
            if value:
                return value
            time.sleep(0.05)
        if needed:
            raise AssertionError("gave up waiting for " + what)
        return None

    def value_of(bar):
        return Atspi.Value.get_current_value(bar)

    app_proc = None
    failures = []
    try:
        with open(log_path, "wb") as log:
            app_proc = subprocess.Popen([trimlet, recording], env=env, stdout=log, stderr=subprocess.STDOUT,
                                        start_new_session=True)
        app = wait_for("trimlet on the accessibility bus", find_app)
        say(f"application: {app.get_name()!r}")
        nodes = wait_for("the main window's controls",
                         lambda: (lambda found: found if any(n.get_role_name() == "push button" for n in found)
                                  else None)(walk(app, [])))

        def named(prefix, role):
            for node in nodes:
                name = node.get_name() or ""
                if node.get_role_name() == role and (name == prefix or name.startswith(prefix + ": ")):
                    return node
            raise AssertionError(f"no {role} named {prefix!r}")

        status = named("Status", "label")
        percent = named("Detection percent", "label")
        time_field = named("Detection time", "label")
        refreshed = named("Package lists last refreshed", "label")
        streams = named("Recording streams", "label")
        detect_bar = named("Detection progress", "progress bar")
        remove_bar = named("Removal progress", "progress bar")
        window = next(n for n in nodes if n.get_role_name() == "frame")
        run = next((n for n in nodes if n.get_role_name() == "push button"
                    and (n.get_name() or "").endswith(" all chosen steps")), None)
        if run is None:
            raise AssertionError("no button named for all chosen steps")

        def check(what, heard, expected):
            say(f"heard {what}: {heard!r}")
            if heard != expected:
                failures.append(f"{what}: heard {heard!r}, the window shows {expected!r}")

        check("last refresh", name_of(refreshed), "Package lists last refreshed: " + last_refreshed())
        # The output choice and the field it names, and the profile choice: one name each.
        check("output choice", [name_of(n) for n in nodes if n.get_role_name() == "combo box"],
              ["Output", "Profile"])
        check("copy's field", [name_of(n) for n in nodes if n.get_role_name() == "text"
                               and name_of(n) in ("Cut copy", "Output")], ["Cut copy"])
        check("run button before the run", name_of(run), "Run all chosen steps")

        with warnings.catch_warnings():
            # Deprecated for a name that clashes with the object's own in Python.
            warnings.simplefilter("ignore", DeprecationWarning)
            names = [Atspi.Action.get_action_name(run, i) for i in range(Atspi.Action.get_n_actions(run))]
        Atspi.Action.do_action(run, names.index("Press") if "Press" in names else 0)
        # Where the run is is read off the bars and the window's title, which
        # do not depend on the names under test.
        wait_for("the detector to hold at 20 %", lambda: value_of(detect_bar) == 20)
        check("percent while detecting", name_of(percent), "Detection percent: 20%")
        check("time while detecting", name_of(time_field), "Detection time: pass 2")
        check("run button while running", name_of(run), "Stop all chosen steps")
        check("status while detecting", name_of(status), "Status: Detecting commercials…")

        open(release, "w").close()
        wait_for("the run's end", lambda: value_of(remove_bar) == 100 and name_of(window) == "Trimlet")
        wait_for("the last status", lambda: name_of(status) == "Status: " + FINAL_STATUS, seconds=5, needed=False)
        check("status after the run", name_of(status), "Status: " + FINAL_STATUS)
        check("percent after the run", name_of(percent), "Detection percent")
        check("run button after the run", name_of(run), "Run all chosen steps")
        elapsed = name_of(time_field)
        say(f"heard time after the run: {elapsed!r}")
        if not re.fullmatch(r"Detection time: \d\d:\d\d elapsed", elapsed or ""):
            failures.append(f"time after the run: heard {elapsed!r}, not the time detection took")
        # What the ffprobe stand-in says of any recording.
        check("recording streams", name_of(streams), "Recording streams: " + STREAMS)
        pump()
        say("status changes heard: " + " | ".join(heard_changes))
        if "Status: " + FINAL_STATUS not in heard_changes:
            failures.append("the final status was never announced")
    except Exception as e:  # a failed look-up over D-Bus included
        failures.append(f"{type(e).__name__}: {e}")
    finally:
        signal.alarm(0)
        listener.deregister("object:property-change:accessible-name")
        stop_group(app_proc)
        # Told to end, trimlet quits in order with 128 + the signal's number;
        # anything else is a crash, a sanitizer's report or a kill.
        if app_proc is not None and app_proc.returncode != 128 + signal.SIGTERM:
            failures.append(f"trimlet ended with {app_proc.returncode} when told to quit")
        if failures:
            with open(log_path, "rb") as log:
                say("trimlet's output:\n" + log.read().decode(errors="replace")[-4000:])
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        say("FAIL: " + f)
    if not failures:
        say("Everything was heard as the window shows it.")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--inner":
        sys.exit(inner(sys.argv[2], sys.argv[3]))
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(outer(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])))
