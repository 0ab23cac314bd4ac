#!/usr/bin/python3
"""Measures one test step of each program against the device simulator on a pseudo-terminal
(and on Telnet over loopback), next to the floor (bench/floor.c), ppp's chat and a pyserial
script. Prints medians, ratios to the floor, peak resident memory and the time from the
reply's terminator to the program's exit."""
import os
import statistics
import subprocess
import sys
import tempfile
import time
import socket
import tty

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(ROOT, "build", "bin")
RUNS = int(os.environ.get("BENCH_RUNS", "300"))


def run_once(argv, env, stdin_path=None):
    """Runs argv to its end; returns (seconds, exit status)."""
    actions = [(os.POSIX_SPAWN_OPEN, 1, "/dev/null", os.O_WRONLY, 0),
               (os.POSIX_SPAWN_OPEN, 2, "/dev/null", os.O_WRONLY, 0)]
    if stdin_path:  # chat talks to the port on its standard input and output
        actions = [(os.POSIX_SPAWN_OPEN, 0, stdin_path, os.O_RDWR | os.O_NOCTTY, 0),
                   (os.POSIX_SPAWN_DUP2, 0, 1),
                   (os.POSIX_SPAWN_OPEN, 2, "/dev/null", os.O_WRONLY, 0)]
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, env, file_actions=actions)
    _, status = os.waitpid(pid, 0)
    return time.perf_counter() - start, os.waitstatus_to_exitcode(status)


def peak_rss(argv, env, stdin_path=None):
    """Peak resident memory in MiB, through a small launcher: a child's peak counts what its
    parent (this 10 MiB Python) had at the fork."""
    fd = os.open(stdin_path or "/dev/null", os.O_RDWR | os.O_NOCTTY)
    try:
        r = subprocess.run([os.path.join(BIN, "bench_peak_rss")] + argv, env=env, stdin=fd,
                           stdout=fd if stdin_path else subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    finally:
        os.close(fd)
    return int(r.stderr.strip().splitlines()[-1]) / 1024


def measure(name, argv, env, expect, runs=RUNS, stdin_path=None, pause=0.0):
    times = []
    time.sleep(pause * 10)  # the previous row's last step has let go of the device
    for _ in range(runs):
        seconds, status = run_once(argv, env, stdin_path)
        if status != expect:
            sys.exit(f"{name}: exit status {status}, expected {expect}: {argv}")
        times.append(seconds)
        time.sleep(pause)
    rss = max(peak_rss(argv, env, stdin_path) for _ in range(5))
    return statistics.median(times) * 1e3, rss


def measure_alternating(argv_a, env_a, argv_b, env_b, expect, runs=RUNS):
    """Two steps run in turns, so that the machine's own drift weighs on both alike.
    Returns ((median ms, peak RSS MiB), ...) for each."""
    times = ([], [])
    for _ in range(runs):
        for i, (argv, env) in enumerate(((argv_a, env_a), (argv_b, env_b))):
            seconds, status = run_once(argv, env)
            if status != expect:
                sys.exit(f"alternating: exit status {status}, expected {expect}: {argv}")
            times[i].append(seconds)
    return tuple((statistics.median(t) * 1e3, max(peak_rss(argv, e) for _ in range(5)))
                 for t, argv, e in zip(times, (argv_a, argv_b), (env_a, env_b)))


def measure_windows(env, b):
    """The same step with the Windows program under Wine (warm: a persistent wineserver),
    next to the Linux one, when build-win/ exists (scripts/build-windows.sh)."""
    exe = os.path.join(ROOT, "build-win", "bin", "opquery_multi.exe")
    wine = "/usr/bin/wine"
    if not (os.path.exists(exe) and os.path.exists(wine)):
        return []
    wenv = dict(env, WINEPREFIX=os.path.join(ROOT, "build-win", "wineprefix"), WINEDEBUG="-all",
                WINEDLLOVERRIDES="mscoree,mshtml=")
    subprocess.run(["wineserver", "-p"], env=wenv)
    subprocess.run([wine, os.path.join(ROOT, "build-win", "tests", "telnet_codec_test.exe")], env=wenv,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        step = ["!q", "!m", "DEV", "ID?", "COM7,115200"]
        linux = measure("linux step", [b("opquery_multi")] + step, env, 1, runs=min(RUNS, 100))
        windows = measure("windows step", [wine, exe] + step, wenv, 1, runs=min(RUNS, 100))
    finally:
        subprocess.run(["wineserver", "-k"], env=wenv)
    return [("opquery_multi (Linux)", linux), ("opquery_multi.exe under Wine, warm", windows)]


def terminator_to_exit(env, port_dir, runs=RUNS):
    """Plays the device itself: answers the command and times from the reply's carriage
    return reaching the port to the exit of opquery_multi."""
    master, slave = os.openpty()
    tty.setraw(slave)
    link = os.path.join(port_dir, "COM9")
    os.symlink(os.ttyname(slave), link)
    argv = [os.path.join(BIN, "opquery_multi"), "!q", "!m", "DEV", "ID?", "COM9,115200"]
    latencies = []
    for _ in range(runs):
        pid = os.posix_spawn(argv[0], argv, env, file_actions=[(os.POSIX_SPAWN_OPEN, 1, "/dev/null", os.O_WRONLY, 0)])
        received = b""
        while not received.endswith(b"\r"):
            received += os.read(master, 64)
        os.write(master, b"DEV 7\r")
        sent = time.perf_counter()
        _, status, _ = os.wait4(pid, 0)
        latencies.append(time.perf_counter() - sent)
        if os.waitstatus_to_exitcode(status) != 1:
            sys.exit("terminator-to-exit: the step failed")
    os.close(master)
    os.close(slave)
    return statistics.median(latencies) * 1e3, max(latencies) * 1e3


def start_ser2net(device, work_dir):
    """ser2net in front of the simulator's pty, as a terminal server: one raw TCP port and
    one Telnet port with RFC 2217, which negotiates as telnetd does. Returns the process
    and the two port specifications."""
    raw, rfc2217 = free_port(), free_port()
    config = os.path.join(work_dir, "ser2net.yaml")
    with open(config, "w") as f:
        for name, accepter in (("raw", f"tcp,127.0.0.1,{raw}"), ("rfc2217", f"telnet(rfc2217),tcp,127.0.0.1,{rfc2217}")):
            f.write(f"connection: &{name}\n  accepter: {accepter}\n"
                    f"  connector: serialdev,{device},115200n81,local\n")
    proc = subprocess.Popen(["/usr/sbin/ser2net", "-n", "-c", config, "-P", os.path.join(work_dir, "ser2net.pid")],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", rfc2217), timeout=0.1).close()
            break
        except OSError:
            time.sleep(0.05)
    time.sleep(0.1)
    return proc, f"127.0.0.1,{raw}", f"127.0.0.1,{rfc2217}"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    port_dir = tempfile.mkdtemp(prefix="steptools-bench-")
    env = dict(os.environ, STEPTOOLS_PORT_DIR=port_dir, STEPTOOLS_POPUP="tty")
    env.pop("DISPLAY", None)
    sim = subprocess.Popen([os.path.join(BIN, "devsim"), "--pty", "COM7", "--telnet", "0", "--eol", "crlf",
                            "ID?=>say:DEV 7", "TWO?=>say:LINE1;say:LINE2", "hex:0D0A=>hex:01020304;raw:\\r"],
                           stdout=subprocess.PIPE, env=env, text=True)
    ready = sim.stdout.readline().split()
    telnet = "127.0.0.1," + [w for w in ready if w.startswith("telnet=")][0].split("=")[1]
    port = os.path.join(port_dir, "COM7")
    b = lambda name: os.path.join(BIN, name)
    try:
        floor = measure("floor", [b("bench_floor"), port, "ID?", "DEV"], env, 1)
        rows = [
            ("floor (bench/floor.c)", floor),
            ("opquery_multi", measure("opquery_multi", [b("opquery_multi"), "!q", "!m", "DEV", "ID?", "COM7,115200"], env, 1)),
            ("opquery (hex)", measure("opquery", [b("opquery"), "!q", "!m", "H01020304", "H0D0A", "COM7,115200"], env, 1)),
            ("opquery_multi_responses, 2 lines", measure("opquery_multi_responses", [
                b("opquery_multi_responses"), "!t", "!m", "LINE1_LINE2_", "TWO?", "COM7,115200"], env, 1)),
            ("serial, ! mode", measure("serial !", [b("serial"), "COM7,115200", "ID?", "!"], env, 1)),
            ("serial, comparison (block read, 0.05 s timeout)", measure("serial", [
                b("serial"), "COM7,115200", "ID?", "DEV", "x", "0.05"], env, 0, runs=min(RUNS, 60))),
            ("ppp chat", measure("chat", ["/usr/sbin/chat", "-t", "2", "", "ID?", "DEV"], env, 0, stdin_path=port)),
            ("pyserial script", measure("pyserial", ["/usr/bin/python3", os.path.join(ROOT, "bench", "pyserial_step.py"),
                                                     port, "ID?", "DEV"], env, 1, runs=min(RUNS, 100))),
            ("opquery_multi over Telnet (loopback)", measure("telnet", [
                b("opquery_multi"), "!q", "!m", "DEV", "ID?", telnet], env, 1)),
        ]
        # Step records on: the same step as the opquery_multi row, appending to a file.
        record_env = dict(env, STEPTOOLS_RECORD=os.path.join(port_dir, "steps.jsonl"))
        multi = [b("opquery_multi"), "!q", "!m", "DEV", "ID?", "COM7,115200"]
        records_off, records_on = measure_alternating(multi, env, multi, record_env, 1)
        # Start-up cost: the floor and opquery_multi in turns, three rounds.
        floor_argv = [b("bench_floor"), port, "ID?", "DEV"]
        turns = [measure_alternating(floor_argv, env, multi, env, 1) for _ in range(3)]
        interbyte_env = dict(env, STEPTOOLS_INTERBYTE_MS="5")
        rows.insert(6, ("serial, comparison, STEPTOOLS_INTERBYTE_MS=5", measure("serial interbyte", [
            b("serial"), "COM7,115200", "ID?", "DEV", "x", "0.05"], interbyte_env, 0)))
        # ser2net closes the device after each connection and refuses a new one until then:
        # both rows leave it the same short pause between steps.
        s2n, raw_tcp, rfc2217 = start_ser2net(port, port_dir)
        try:
            via = [b("opquery_multi"), "!q", "!m", "DEV", "ID?"]
            ser2net_rows = [
                ("opquery_multi via ser2net, raw TCP", measure("ser2net raw", via + [raw_tcp], env, 1, pause=0.02)),
                ("opquery_multi via ser2net, Telnet RFC 2217", measure("ser2net rfc2217", via + [rfc2217], env, 1,
                                                                       pause=0.02)),
            ]
        finally:
            s2n.terminate()
            s2n.wait()
        windows_rows = measure_windows(env, b)
        latency = terminator_to_exit(env, port_dir)
    finally:
        sim.terminate()
        sim.wait()

    print(f"one query step, median of {RUNS} runs (fewer for the slow ones); popups suppressed")
    print(f"{'step':50} {'median ms':>10} {'x floor':>8} {'peak RSS MiB':>13}")
    for name, (ms, rss) in rows:
        print(f"{name:50} {ms:10.3f} {ms / floor[0]:8.2f} {rss:13.2f}")
    (raw_ms, _), (telnet_ms, _) = ser2net_rows[0][1], ser2net_rows[1][1]
    for name, (ms, rss) in ser2net_rows:
        print(f"{name:50} {ms:10.3f} {ms / raw_ms:8.2f} {rss:13.2f}   (x raw TCP)")
    for name, (ms, rss) in windows_rows:
        print(f"{name:50} {ms:10.3f} {ms / windows_rows[0][1][0]:8.2f} {rss:13.2f}   (x the Linux step)")
    print(f"{'opquery_multi, records off (in turns with on)':50} {records_off[0]:10.3f} {records_off[0] / floor[0]:8.2f} {records_off[1]:13.2f}")
    print(f"{'opquery_multi, STEPTOOLS_RECORD set':50} {records_on[0]:10.3f} {records_on[0] / floor[0]:8.2f} {records_on[1]:13.2f}"
          f"   (+{(records_on[0] / records_off[0] - 1) * 100:.1f} % with records)")
    for i, (floor_turn, multi_turn) in enumerate(turns, 1):
        print(f"{'opquery_multi in turns with the floor, round ' + str(i):50} {multi_turn[0]:10.3f} "
              f"{multi_turn[0] / floor_turn[0]:8.2f} {multi_turn[1]:13.2f}   (floor {floor_turn[0]:.3f} ms)")
    print(f"opquery_multi, reply terminator to exit: median {latency[0]:.3f} ms, worst {latency[1]:.3f} ms")
    cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
    print(f"machine: {cpu}, {os.cpu_count()} cores, Linux {os.uname().release}")


if __name__ == "__main__":
    main()
