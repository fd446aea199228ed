#!/usr/bin/python3
"""An unattended update of all sixteen programs (Avendro --aggiorna --forza,
sixteen archives of 16 MiB from our FTP server at 1 Gbit/s, scripts that
end at once) against the curl tool fetching the same sixteen files; then a
night with nothing new (Avendro --aggiorna once every archive is installed)
against curl asking the server for the sixteen files' size and time in one
invocation (curl -I), with the bytes our run received and the processes it
stopped. Interleaved rounds; the median of the per-round ratios.

The reference is curl once per file, sixteen invocations in a row. In one
invocation, curl 7.88's tool reuses the login and then, for most files,
waits a whole second before it connects the next data connection (its
loop is not woken); that figure is printed too, but it measures the wait.

    unattended_bench.py AVENDRO WORK [ROUNDS]
    unattended_bench.py AVENDRO WORK ROUNDS --https TLS_DIR

AVENDRO is a build of the demo preset, whose server is 127.0.0.1:21021.
With --https it is a build for the web server https://127.0.0.1:21443/sito/
trusting TLS_DIR/ca.pem: nginx (tools/web_server.py with that CA) serves the
archives, and the reference is curl fetching the sixteen files in one
invocation, over one connection as ours, then sync.
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import figures  # noqa: E402

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
USER, PASSWORD, SITE, PORT = "demo@zefirano.example", "demo2026", "www.zefirano.example", 21021
HTTPS_PORT = 21443
MIB = 1024 * 1024


def tool(*args):
    return subprocess.run([os.path.join(HERE, "tools", args[0])] + list(args[1:]), check=True,
                          capture_output=True, text=True).stdout


def timed(args, **kw):
    start = time.perf_counter()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)
    return time.perf_counter() - start


def received(log, since):
    """Bytes the server sent after offset `since` of its session log: the
    control connections' replies and the transfers' data."""
    with open(log, encoding="utf-8", errors="replace") as f:
        f.seek(since)
        text = f.read()
    control = sum(int(m) for m in re.findall(r"control bytes sent (\d+)", text))
    data = sum(int(m) for m in re.findall(r" bytes=(\d+)", text))
    return control + data


def quiet_night(avendro, env, archives, log, rounds):
    """Every archive is installed already (the forced runs recorded them)."""
    run = [avendro, "--aggiorna", "--unita", "d:"]
    asks = ["curl", "-s", "-I", "-u", USER + ":" + PASSWORD] + [
        "ftp://127.0.0.1:%d/%s/download/%s" % (PORT, SITE, name) for name in archives]
    figure = figures.Figure("a night with nothing new (Avendro --aggiorna), 16 programs "
                            "installed", "s", "curl -I of the 16 files,", "lower", "< 1.5")
    timed(run, env=env, cwd="/")  # warm-up
    timed(asks)
    for _ in range(rounds):
        figure.add(timed(run, env=env, cwd="/"), timed(asks))
    print(figure.line())
    time.sleep(0.5)  # the server logs the last session's end
    since = os.path.getsize(log)
    result = subprocess.run(run, env=env, cwd="/", capture_output=True, text=True)
    time.sleep(0.5)
    per_program = received(log, since) / len(archives)
    stopped = result.stdout.count("Controllo Memoria")
    new = result.stdout.count("Nessun aggiornamento per")
    print("  bytes received per program: %.0f (target < 2048), processes checked or stopped: "
          "%d (target 0), programs found up to date: %d of %d%s"
          % (per_program, stopped, new, len(archives),
             "" if per_program < 2048 and stopped == 0 and new == len(archives) else " MISSED"),
          flush=True)


def https_night(avendro_run, env, archives, fetched, tls, rounds):
    """nginx cannot pace files this small (its rate limit lets a whole
    second's worth through at once), so this is the loopback: the
    reference is curl fetching the sixteen in one invocation over one
    connection, then the files flushed to the disk, as ours are before each
    replaces its old archive."""
    url = "https://127.0.0.1:%d/sito/download/" % HTTPS_PORT
    single = ["curl", "-s", "--cacert", os.path.join(tls, "ca.pem")]
    for name in archives:
        single += ["-o", os.path.join(fetched, name), url + name]
    flushed = ["sh", "-c", '"$@" && exec sync -- "$0"/*', fetched] + single
    figure = figures.Figure("unattended update over HTTPS from nginx (Avendro --aggiorna), 16 "
                            "programs of 16 MiB on the loopback", "s",
                            "curl, one invocation, then sync,", "lower", "< 1.1")
    timed(avendro_run, env=env, cwd="/")  # once each to warm the caches
    timed(flushed)
    for _ in range(rounds):
        figure.add(timed(avendro_run, env=env, cwd="/"), timed(flushed))
    print(figure.line(), flush=True)


def main():
    avendro, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 9
    tls = os.path.abspath(sys.argv[5]) if len(sys.argv) > 5 and sys.argv[4] == "--https" else None
    prefix = tool("make-demo-drive", os.path.join(work, "drive")).strip()
    drive = os.path.join(work, "drive", "drive_d")
    for tail in tool("catalogue", "programs", *map(str, range(16))).split():
        os.makedirs(os.path.dirname(os.path.join(drive, tail)), exist_ok=True)
        open(os.path.join(drive, tail), "w").close()
    open(os.path.join(drive, "drubel", "rar.exe"), "w").close()
    bin_dir = os.path.join(work, "bin")
    os.makedirs(bin_dir, exist_ok=True)
    with open(os.path.join(bin_dir, "wine"), "w") as f:
        f.write("#!/bin/sh\nexit 0\n")
    os.chmod(os.path.join(bin_dir, "wine"), 0o755)
    download = os.path.join(work, "ftp", SITE if not tls else "sito", "download")
    os.makedirs(download, exist_ok=True)
    rows = [line.split("\t") for line in tool("catalogue").splitlines()]
    archives = [row[5] for row in rows if int(row[0]) < 16]
    block = os.urandom(MIB)
    for name in archives:
        with open(os.path.join(download, name), "wb") as f:
            for _ in range(16):
                f.write(block)
    if tls:
        server = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "tools", "web_server.py"),
                                   "--root", os.path.join(work, "ftp"), "--tls-dir", tls,
                                   "--port", str(HTTPS_PORT), "--rate", "125000000"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    else:
        server = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "tools", "ftp_server.py"),
                                   "--home", os.path.join(work, "ftp"), "--user", USER,
                                   "--password", PASSWORD, "--port", str(PORT), "--rate",
                                   "125000000", "--log", os.path.join(work, "sessions.log")],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        server.stdout.readline()  # the port: listening
        env = dict(os.environ, WINEPREFIX=prefix, PATH=bin_dir + ":" + os.environ["PATH"])
        env.pop("DISPLAY", None)
        avendro_run = [avendro, "--aggiorna", "--forza", "--unita", "d:"]
        fetched = os.path.join(work, "curl")
        each = [["curl", "-s", "-u", USER + ":" + PASSWORD, "-o", os.path.join(fetched, name),
                 "ftp://127.0.0.1:%d/%s/download/%s" % (PORT, SITE, name)] for name in archives]
        single = each[0][:4] + [arg for command in each for arg in command[4:]]
        os.makedirs(fetched, exist_ok=True)
        if tls:
            https_night(avendro_run, env, archives, fetched, tls, rounds)
            return

        def in_a_row():
            return sum(timed(command) for command in each)

        figure = figures.Figure("unattended update (Avendro --aggiorna), 16 programs of 16 MiB "
                                "at 1 Gbit/s", "s", "curl, 16 invocations,", "lower", "< 1.2")
        one = figures.Figure("  the same against curl in one invocation (its waits counted)",
                             "s", "curl", "lower", "< 1.2")
        ours = lambda: timed(avendro_run, env=env, cwd="/")  # noqa: E731
        ours()  # once each to warm the caches
        in_a_row()
        for _ in range(rounds):
            a = ours()
            figure.add(a, in_a_row())
            one.add(a, timed(single))
        print(figure.line())
        print(one.line(), flush=True)
        quiet_night(avendro, env, archives, os.path.join(work, "sessions.log"), rounds)
    finally:
        server.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
