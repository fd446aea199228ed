#!/usr/bin/python3
"""Start-up of the Windows package under Wine: from `wine Avendro.exe` to its
window mapped on a virtual X server, against an empty Qt window built with
the same Qt (bench/minimal_window.cpp) and started from the same folder, in
one Wine prefix whose work drive D: holds the programs given. Interleaved
runs after one warm-up of each, median of each; the zip's size too.

    wine_startup_bench.py ZIP MINIMAL_WINDOW_EXE DRIVE_D [RUNS]
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

PACKAGES = ["wine", "wine64", "xvfb", "xdotool"]
OURS = "Aggiornamento Software"
EMPTY = "Finestra vuota"


def install_packages():
    missing = [p for p in PACKAGES if "install ok installed" not in subprocess.run(
        ["dpkg-query", "-W", "-f=${Status}", p], capture_output=True, text=True).stdout]
    if missing:
        sudo = [] if os.geteuid() == 0 else ["sudo"]
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(sudo + ["apt-get", "update", "-qq"], env=env)
        subprocess.run(sudo + ["apt-get", "install", "-y", "-qq", "--no-install-recommends"]
                       + missing, env=env, check=True, stdout=subprocess.DEVNULL)


def start_xvfb(tmp):
    number_file = os.path.join(tmp, "display")
    with open(number_file, "wb") as out:
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(out.fileno()), "-screen", "0",
                                 "1280x1024x24", "-nolisten", "tcp", "-noreset"],
                                pass_fds=(out.fileno(),), stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, start_new_session=True)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        with open(number_file) as f:
            text = f.read()
        if text.endswith("\n"):
            return xvfb, ":" + text.strip()
        if xvfb.poll() is not None:
            break
        time.sleep(0.05)
    xvfb.kill()
    sys.exit("wine_startup_bench: Xvfb did not start")


def shown(title, env):
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % title],
                         capture_output=True, text=True, env=env, timeout=10).stdout
    return bool(out.split())


def timed(exe, title, cwd, env):
    """Milliseconds from the start of `wine exe` to its window on the screen."""
    start = time.perf_counter()
    proc = subprocess.Popen(["wine", exe], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 120
        while not shown(title, env):
            if proc.poll() is not None or time.monotonic() > deadline:
                sys.exit("wine_startup_bench: %s showed no window \"%s\"" % (exe, title))
            time.sleep(0.01)
        return (time.perf_counter() - start) * 1000
    finally:
        proc.kill()
        proc.wait(timeout=30)
        deadline = time.monotonic() + 30
        while shown(title, env) and time.monotonic() < deadline:
            time.sleep(0.05)


def main():
    zip_path, minimal, drive_d = sys.argv[1], sys.argv[2], os.path.abspath(sys.argv[3])
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 5
    install_packages()
    with tempfile.TemporaryDirectory(prefix="avendro-wine-bench.") as tmp:
        with zipfile.ZipFile(zip_path) as z:
            z.extractall(tmp)
            exe = os.path.join(tmp, next(n for n in z.namelist() if n.endswith("/Avendro.exe")))
        empty = os.path.join(os.path.dirname(exe), "minimal_window.exe")
        with open(minimal, "rb") as src, open(empty, "wb") as dst:
            dst.write(src.read())
        prefix = os.path.join(tmp, "prefix")
        env = dict(os.environ, WINEPREFIX=prefix, WINEARCH="win64", WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree=d;mshtml=d")
        env.pop("DISPLAY", None)
        subprocess.run(["wineboot", "--init"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        subprocess.run(["wineserver", "-w"], env=env, timeout=120)
        os.symlink(drive_d, os.path.join(prefix, "dosdevices", "d:"))
        xvfb, display = start_xvfb(tmp)
        env["DISPLAY"] = display
        try:
            # One server for all runs, so none of them pays for starting it.
            subprocess.run(["wineserver", "-p"], env=env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
            ours, reference = [], []
            timed(exe, OURS, drive_d, env)  # warm the caches once
            timed(empty, EMPTY, drive_d, env)
            for _ in range(runs):
                ours.append(timed(exe, OURS, drive_d, env))
                reference.append(timed(empty, EMPTY, drive_d, env))
        finally:
            subprocess.run(["wineserver", "-k"], env=env, timeout=60)
            xvfb.kill()
            xvfb.wait(timeout=30)
    a, b = statistics.median(ours), statistics.median(reference)
    print(f"start-up of the Windows package under Wine to the shown window, 16 programs "
          f"installed, median of {runs}: {a:.0f} ms vs empty Qt window {b:.0f} ms "
          f"ratio {a / b:.2f} (target < 1.3)")
    size = os.path.getsize(zip_path) / 2**20
    print(f"Windows package size: {os.path.basename(zip_path)} {size:.1f} MiB")


if __name__ == "__main__":
    main()
