"""A Wine prefix for running modreg.exe many times quickly: made once with
wineboot -i, then served by one persistent wineserver, so that each run
takes tens of milliseconds and no Wine helper holds a test's pipes."""

import os
import shutil
import subprocess
import time

READY_MARK = ".modreg-ready"


def wine_env(prefix, arch="win64"):
    """The environment of a quiet Wine run in |prefix| (no Mono or Gecko
    prompt, no display needed)."""
    env = dict(os.environ)
    env["WINEPREFIX"] = prefix
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env.pop("DISPLAY", None)
    if arch == "win32":
        env["WINEARCH"] = "win32"
    else:
        env.pop("WINEARCH", None)
    return env


def quiet(cmd, env, timeout=600):
    """Runs a Wine helper with no pipe of ours attached."""
    return subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=timeout)


class WinePrefix:
    def __init__(self, prefix, arch="win64"):
        self.prefix = os.path.abspath(prefix)
        self.arch = arch
        self.env = wine_env(self.prefix, arch)
        self.server = False

    def is64(self):
        return os.path.isdir(os.path.join(self.prefix, "drive_c", "windows",
                                          "syswow64"))

    def _complete(self):
        return (os.path.exists(os.path.join(self.prefix, READY_MARK))
                and self._has_registry()
                and self.is64() == (self.arch == "win64"))

    def start(self):
        """Makes the prefix unless a complete one is there, then starts its
        persistent server. Returns the seconds spent making it, or 0."""
        made = 0.0
        if not self._complete():
            shutil.rmtree(self.prefix, ignore_errors=True)
            os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
            began = time.monotonic()
            rc = quiet(["wineboot", "-i"], self.env).returncode
            # The registry files are saved when the server exits.
            quiet(["wineserver", "-w"], self.env)
            if rc != 0 or not self._has_registry():
                raise RuntimeError("wineboot -i failed for " + self.prefix)
            with open(os.path.join(self.prefix, READY_MARK), "w") as mark:
                mark.write("made for modreg's tests\n")
            made = time.monotonic() - began
        if self.is64() != (self.arch == "win64"):
            raise RuntimeError("%s is not a %s prefix" % (self.prefix,
                                                          self.arch))
        # A server left by an earlier command must end first.
        quiet(["wineserver", "-w"], self.env)
        quiet(["wineserver", "-p"], self.env)
        self.server = True
        # Starts the services a first run would start, none of them
        # holding our pipes.
        quiet(["wine", "cmd", "/c", "exit"], self.env)
        return made

    def _has_registry(self):
        return os.path.exists(os.path.join(self.prefix, "system.reg"))

    def stop(self):
        if self.server:
            quiet(["wineserver", "-k"], self.env, timeout=60)
            # Gone before the next command, which would talk to it.
            quiet(["wineserver", "-w"], self.env, timeout=60)
            self.server = False
