#!/usr/bin/python3
"""Start-up of the Windows package under Wine: from `wine Avendro.exe` to its
window mapped on a virtual X server, against an empty Qt window built with
the same Qt (bench/minimal_window.cpp) and started from the same folder, in
one Wine prefix whose work drive D: holds the programs given. The two in
turns after one warm-up of each (bench/figures.py reports them); the zip's
size too. The X server itself says when a window is mapped: nothing polls
it, so the watching takes no processor time from Wine.

    wine_startup_bench.py ZIP MINIMAL_WINDOW_EXE DRIVE_D [ROUNDS]
"""
import ctypes
import os
import select
import subprocess
import sys
import tempfile
import time
import zipfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import figures  # noqa: E402

PACKAGES = ["wine", "wine64", "xvfb", "libx11-6"]
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


class MapWatch:
    """The top-level windows mapped and destroyed on a display, as the X
    server reports them (Xlib through ctypes)."""

    MAP_NOTIFY, DESTROY_NOTIFY = 19, 17
    SUBSTRUCTURE_NOTIFY_MASK = 1 << 19

    def __init__(self, display):
        x = ctypes.cdll.LoadLibrary("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        x.XConnectionNumber.argtypes = [ctypes.c_void_p]
        x.XPending.argtypes = [ctypes.c_void_p]
        x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                 ctypes.POINTER(ctypes.c_char_p)]
        x.XFlush.argtypes = [ctypes.c_void_p]
        # A window may be gone by the time its name is asked for; Xlib's
        # own handler would end the program for that.
        handler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
        self.on_error = handler(lambda display, error: 0)
        x.XSetErrorHandler(self.on_error)
        self.x = x
        self.display = x.XOpenDisplay(display.encode())
        if not self.display:
            sys.exit("wine_startup_bench: cannot open display %s" % display)
        x.XSelectInput(self.display, x.XDefaultRootWindow(self.display),
                       self.SUBSTRUCTURE_NOTIFY_MASK)
        x.XFlush(self.display)
        self.fd = x.XConnectionNumber(self.display)
        self.event = ctypes.create_string_buffer(192)  # sizeof(XEvent)

    def _name(self, window):
        # Wine names a window when it makes it, before mapping it.
        name = ctypes.c_char_p()
        if not self.x.XFetchName(self.display, window, ctypes.byref(name)) or not name.value:
            return ""
        return name.value.decode("utf-8", "replace")

    def mapped(self, title, deadline, proc):
        """The window called `title` once mapped; None if it was not by
        `deadline` or `proc` ended first."""
        return self._wait(lambda kind, window: kind == self.MAP_NOTIFY
                          and self._name(window) == title, deadline, proc)

    def destroyed(self, window, deadline):
        """Waits until `window` is destroyed, at most until `deadline`."""
        self._wait(lambda kind, seen: kind == self.DESTROY_NOTIFY and seen == window, deadline)

    def _wait(self, wanted, deadline, proc=None):
        while True:
            while self.x.XPending(self.display):
                self.x.XNextEvent(self.display, self.event)
                kind = ctypes.c_int.from_buffer(self.event, 0).value
                # XMapEvent and XDestroyWindowEvent: type, serial,
                # send_event, display, event, window.
                window = ctypes.c_ulong.from_buffer(self.event, 40).value
                if wanted(kind, window):
                    return window
            left = deadline - time.monotonic()
            if left <= 0 or (proc is not None and proc.poll() is not None):
                return None
            select.select([self.fd], [], [], min(left, 0.5))


def timed(exe, title, cwd, env, watch):
    """Milliseconds from the start of `wine exe` to its window mapped."""
    start = time.perf_counter()
    proc = subprocess.Popen(["wine", exe], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    window = None
    try:
        window = watch.mapped(title, time.monotonic() + 120, proc)
        if window is None:
            sys.exit("wine_startup_bench: %s showed no window \"%s\"" % (exe, title))
        return (time.perf_counter() - start) * 1000
    finally:
        proc.kill()
        proc.wait(timeout=30)
        # The X server destroys the window once the process is gone; the
        # next run starts on an empty screen.
        if window is not None:
            watch.destroyed(window, time.monotonic() + 30)


def main():
    zip_path, minimal, drive_d = sys.argv[1], sys.argv[2], os.path.abspath(sys.argv[3])
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 21
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
            watch = MapWatch(display)
            figure = figures.Figure("start-up of the Windows package under Wine to the mapped "
                                    "window, 16 programs installed", "ms",
                                    "empty Qt window, same Qt,", "lower", "< 1.2")
            figures.in_turns(figure, rounds, lambda: timed(exe, OURS, drive_d, env, watch),
                             lambda: timed(empty, EMPTY, drive_d, env, watch))
        finally:
            subprocess.run(["wineserver", "-k"], env=env, timeout=60)
            xvfb.kill()
            xvfb.wait(timeout=30)
    print(figure.line(), flush=True)
    size = os.path.getsize(zip_path) / 2**20
    print(f"Windows package size: {os.path.basename(zip_path)} {size:.1f} MiB")


if __name__ == "__main__":
    main()
