#!/usr/bin/python3
"""Time from a program's start to its question popup being visible (xdotool sees the window
mapped), under openbox on Xvfb and under mutter with Xwayland, for opquery_multi next to
zenity (as an X11 window) and xmessage started the same way. Prints medians."""
import glob
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(ROOT, "build", "bin")
RUNS = int(os.environ.get("BENCH_POPUP_RUNS", "15"))


def wait_for(predicate, seconds=30):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.02)
    return False


def visible(env, title):
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"], env=env,
                       capture_output=True, text=True)
    return r.returncode == 0 and r.stdout.strip() != ""


def time_to_visible(argv, env, title):
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        p = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 30
        while not visible(env, title):
            if p.poll() is not None or time.monotonic() > deadline:
                sys.exit(f"{argv[0]}: no visible popup")
        times.append(time.perf_counter() - start)
        p.kill()
        p.wait()
        wait_for(lambda: not visible(env, title))
    return statistics.median(times) * 1e3


def openbox(work):
    fd_read, fd_write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(fd_write), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                             "-noreset"], pass_fds=[fd_write], stderr=subprocess.DEVNULL)
    os.close(fd_write)
    display = ":" + os.read(fd_read, 16).decode().strip()
    env = dict(os.environ, DISPLAY=display)
    env.pop("WAYLAND_DISPLAY", None)
    wm = subprocess.Popen(["openbox"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1)
    return env, [wm, xvfb]


def mutter(work):
    runtime = tempfile.mkdtemp(dir=work)
    os.chmod(runtime, 0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
    session = subprocess.Popen(["dbus-run-session", "--", "mutter", "--wayland", "--headless", "--virtual-monitor",
                                "1280x1024"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    auth = []
    wait_for(lambda: auth.extend(glob.glob(runtime + "/.mutter-Xwaylandauth.*")) or auth)
    display = None
    for cmdline in glob.glob("/proc/[0-9]*/cmdline"):
        try:
            args = open(cmdline, "rb").read().decode(errors="replace").split("\0")
        except OSError:
            continue
        if args and "Xwayland" in args[0] and auth and auth[0] in args:
            display = next(a for a in args if a.startswith(":"))
    env.update(DISPLAY=display, XAUTHORITY=auth[0], WAYLAND_DISPLAY="wayland-0")
    time.sleep(1)
    return env, [session]


def main():
    work = tempfile.mkdtemp(prefix="steptools-popup-bench-")
    device = subprocess.Popen([os.path.join(BIN, "devsim"), "--pty", "COM7"], env=dict(os.environ, STEPTOOLS_PORT_DIR=work),
                              stdout=subprocess.PIPE, text=True)
    device.stdout.readline()
    print(f"start to visible question popup, median of {RUNS} runs")
    print(f"{'desktop':22} {'opquery_multi':>14} {'zenity':>10} {'xmessage':>10}   (ms)")
    try:
        for name, start in (("openbox on Xvfb", openbox), ("mutter with Xwayland", mutter)):
            env, servers = start(work)
            env.update(STEPTOOLS_PORT_DIR=work, STEPTOOLS_POPUP="gui")
            try:
                ours = time_to_visible([os.path.join(BIN, "opquery_multi"), "Lamp lit?", "!", "", "!", "COM7", "0.1", "0"],
                                       env, "Question")
                # zenity would take GTK's default, Wayland, where no X11 tool sees it: as X11.
                zenity = time_to_visible(["zenity", "--question", "--title", "Question", "--text", "Lamp lit?"],
                                         dict(env, GDK_BACKEND="x11"), "Question")
                xmessage = time_to_visible(["xmessage", "-title", "Question", "-buttons", "Yes:0,No:1", "Lamp lit?"], env,
                                           "Question")
                print(f"{name:22} {ours:14.1f} {zenity:10.1f} {xmessage:10.1f}")
            finally:
                for s in servers:
                    try:
                        os.killpg(s.pid, 15) if s.args[0] == "dbus-run-session" else s.terminate()
                    except ProcessLookupError:
                        pass
                    s.wait()
    finally:
        device.terminate()
        device.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
