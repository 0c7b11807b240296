"""Shared pieces of the reliability tests: the registry folder inside a
prefix, registries to test with, running the tool and checking files."""
import hashlib
import os
import subprocess
import sys

DATA = os.path.join('drive_c', 'Program Files', 'OpenNI', 'Data')
REGISTRY = 'modules.xml'
BACKUP = 'modules.xml.old'

# Mask -> the entries a run adds, as (folder, library).
ADDED = {
    1: [('HALDEToF', 'SensorModule.dll')],
    5: [('HALDEToF', 'SensorModule.dll'), ('HALDEToF', 'libskelvia_ni.dll')],
    8: [('TOLVARToF', 'SensorModule.dll')],
    32: [('HALDEVMR', 'SensorModule_QC9.dll')],
}


class Results:
    """PASS and FAIL lines, counted; a FAIL never stops the run."""

    def __init__(self, name):
        self.name = name
        self.passed = 0
        self.failed = 0
        self.skipped = 0

    def check(self, case, problems):
        problems = [p for p in problems if p]
        if problems:
            self.failed += 1
            print('FAIL %s: %s: %s' % (self.name, case, '; '.join(problems)),
                  flush=True)
        else:
            self.passed += 1
            print('PASS %s: %s' % (self.name, case), flush=True)

    def skip(self, case, why):
        self.skipped += 1
        print('SKIP %s: %s: %s' % (self.name, case, why), flush=True)

    def figure(self, label, value):
        print('FIGURE %s: %s' % (label, value), flush=True)

    def exit(self):
        sys.exit(1 if self.failed else 0)


def confirmed(case, attempt, may_stall=None):
    """Runs attempt(), which returns a list of problems, and once more
    when they are such as a stalled machine can cause (|may_stall| of the
    list; any by default), saying so. Only a failure that repeats counts:
    returns the problems of the last run."""
    problems = [p for p in attempt() if p]
    if problems and (may_stall is None or may_stall(problems)):
        print('     second run of %s: the first found %s' % (
            case, '; '.join(problems)), flush=True)
        problems = [p for p in attempt() if p]
    return problems


def data_dir(prefix):
    return os.path.join(prefix, DATA)


def make_prefix(prefix):
    os.makedirs(data_dir(prefix), exist_ok=True)
    return data_dir(prefix)


def digest(path):
    h = hashlib.sha1()
    with open(path, 'rb') as f:
        while True:
            chunk = f.read(1 << 22)
            if not chunk:
                return h.hexdigest()
            h.update(chunk)


def digest_bytes(data):
    return hashlib.sha1(data).hexdigest()


def module_line(path, config_dir=None):
    extra = ' configDir="%s"' % config_dir if config_dir else ''
    return '\t<Module path="%s"%s />\r\n' % (path, extra)


def registry_text(framework=3, stale_per_folder=1, filler=0, comment=0):
    """A framework-like registry: declaration, comment of |comment| bytes,
    framework modules, stale entries of the three product folders, then
    about |filler| more modules (a tenth of them in the product folders,
    with a configDir). CR LF line ends, no mixed content."""
    head = ['<?xml version="1.0" encoding="UTF-8"?>\r\n',
            '<!-- Module registry. %s -->\r\n' % ('x' * comment),
            '<Modules>\r\n']
    for i in range(framework):
        head.append(module_line(
            'C:\\Program Files\\OpenNI\\Bin\\Framework%d.dll' % i))
    for i in range(stale_per_folder):
        for folder in ('HALDEToF', 'TOLVARToF', 'HALDEVMR'):
            head.append(module_line(
                'C:\\Program Files\\%s\\SensorModule_old%d.dll' % (folder, i)))
    # The filler is one block of 1000 lines repeated, each copy numbered,
    # so that 50 MB take a moment to make.
    block = []
    for i in range(min(filler, 1000)):
        if i % 10 == 3:
            folder = ('HALDEToF', 'TOLVARToF', 'HALDEVMR')[(i // 10) % 3]
            block.append(module_line(
                'C:\\Program Files\\%s\\Stale@@@@@%03d.dll' % (folder, i),
                'C:\\Program Files\\%s\\data@@@@@%03d\\' % (folder, i)))
        else:
            block.append(module_line(
                'C:\\Program Files\\Vendor%03d\\Module@@@@@%03d.dll' % (i, i)))
    block = ''.join(block).encode('utf-8')
    body = [block.replace(b'@@@@@', b'%05d' % n)
            for n in range((filler + 999) // 1000)]
    return (''.join(head).encode('utf-8') + b''.join(body) +
            b'</Modules>\r\n')


def run_tool(command, prefix, mask, env=None, limit_bytes=None,
             memory_bytes=None, timeout=120):
    """Runs |command| (a list) with the arguments x64 and |mask| on
    |prefix|, with a file size limit and an address space limit (as
    `ulimit -v` sets) when given; returns (status, stdout, stderr)."""
    full_env = dict(os.environ, WINEPREFIX=prefix)
    full_env.update(env or {})

    def limits():
        import resource
        for kind, value in ((resource.RLIMIT_FSIZE, limit_bytes),
                            (resource.RLIMIT_AS, memory_bytes)):
            if value is not None:
                resource.setrlimit(kind, (value, value))

    p = subprocess.run(command + ['x64', str(mask)], env=full_env,
                       stdin=subprocess.DEVNULL, capture_output=True,
                       preexec_fn=limits, timeout=timeout)
    return (p.returncode, p.stdout.decode('utf-8', 'replace'),
            p.stderr.decode('utf-8', 'replace'))


# The registry's lock file, which on Windows (modreg.exe under Wine) lasts
# from run to run.
LOCK = 'modules.xml.lock'


def leftovers(folder, windows=False):
    """Names in |folder| besides the registry and its backup, and, for
    the |windows| build, its lasting lock file."""
    kept = (REGISTRY, BACKUP) + ((LOCK,) if windows else ())
    return sorted(n for n in os.listdir(folder) if n not in kept)


def build_hold_open(work):
    """Builds hold_open.exe, the program beside this script that holds a
    file open or a mutex, into |work|; returns its path, or None and the
    compiler's complaint."""
    helper = os.path.join(work, 'hold_open.exe')
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                          'hold_open.c')
    built = subprocess.run(['i686-w64-mingw32-gcc', '-O2', '-Wall', '-Werror',
                            '-o', helper, source], capture_output=True)
    if built.returncode != 0:
        return None, built.stderr
    return helper, b''


def traced_wine_run(wine, args, trace):
    """Runs `wine ARGS` once in |wine| (a WinePrefix) under a wineserver
    that writes every request it serves to the file |trace|; returns the
    finished process and the trace's lines. The prefix's server is
    stopped afterwards."""
    wine.stop()
    with open(trace, 'wb') as out:
        # Returns once the server (which keeps |out|) is ready.
        subprocess.run(['wineserver', '-p', '-d1'], env=wine.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=out, timeout=60)
    wine.server = True
    # The services a first run starts, before any pipe of ours is open.
    subprocess.run(['wine', 'cmd', '/c', 'exit'], env=wine.env,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600)
    p = subprocess.run(['wine'] + args, env=wine.env,
                       stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=120)
    wine.stop()
    with open(trace, 'rb') as f:
        return p, [line.decode('utf-8', 'replace') for line in f]
