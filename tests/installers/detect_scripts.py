"""The examples' detection scripts (examples/*/detect.cmd), run as a
deployment tool runs a detection rule: they must find the product in the
folder its installer remembers, in the registry view of its width, from a
64-bit and from a 32-bit host. detect.ps1 takes the same steps; there is
no PowerShell under Wine."""
import os
import re
import shutil
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, '..', '..', 'examples')
# cmd.exe of each width in a 64-bit prefix: a host reads the registry
# through the view of its width unless told otherwise. Debian's "wine" is
# the 32-bit loader, whose "cmd" is the 32-bit one; the 64-bit loader
# starts the 64-bit one.
WINE64 = shutil.which('wine64') or '/usr/lib/wine/wine64'
HOSTS = (('64-bit host', [WINE64, 'cmd']),
         ('32-bit host', ['wine', 'C:\\windows\\syswow64\\cmd.exe']))
REGISTERED = re.compile(rb'registered: [^\r\n]+\r?\n')


def detect_script(wine, example, host, arch):
    """Runs |example|'s detect.cmd, as it is now, with |arch| in |host|:
    its status, standard output and standard error."""
    folder = os.path.join(wine.prefix, 'drive_c', 'detect', example)
    os.makedirs(folder, exist_ok=True)
    shutil.copyfile(os.path.join(EXAMPLES, example, 'detect.cmd'),
                    os.path.join(folder, 'detect.cmd'))
    done = subprocess.run(
        host + ['/c', 'C:\\detect\\%s\\detect.cmd' % example, arch],
        env=wine.env, stdin=subprocess.DEVNULL, capture_output=True,
        timeout=120)
    return done.returncode, done.stdout, done.stderr


def script_problems(wine, example, when, want, arch='x86'):
    """What is wrong with the answer of |example|'s detect.cmd |when|:
    'registered: ...' and status 0 if |want|, else nothing and status 0;
    standard error empty."""
    problems = []
    for name, host in HOSTS:
        status, out, err = detect_script(wine, example, host, arch)
        answered = bool(REGISTERED.fullmatch(out)) if want else out == b''
        if status != 0 or err or not answered:
            problems.append('detect.cmd %s %s, %s: status %d, %r%s, '
                            'expected %s' % (
                                arch, when, name, status, out,
                                ' and %r on standard error' % err if err
                                else '',
                                'registered' if want else 'nothing'))
    return problems


# Where each example remembers its folder, per width: key and value.
REMEMBERED = {
    'nsis': ('HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall'
             '\\HALDEToF', 'InstallLocation'),
    'wix': ('HKLM\\Software\\HALDE\\HALDEToF', 'InstallDir')}


def lost_folder_problems(wine):
    """With no product installed: a remembered folder that holds no
    modreg.exe (the folder deleted by hand) is not installed, for each
    example and width."""
    problems = []
    for example, (key, value) in sorted(REMEMBERED.items()):
        for arch, view in (('x86', '/reg:32'), ('x64', '/reg:64')):
            key_of = key + ('64' if arch == 'x64' else '')
            subprocess.run(['wine', 'reg', 'add', key_of, '/v', value, '/d',
                            'C:\\Gone\\HALDEToF\\', view, '/f'], env=wine.env,
                           stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=120, check=True)
            try:
                problems += script_problems(wine, example, 'after its folder '
                                            'went', False, arch)
            finally:
                subprocess.run(['wine', 'reg', 'delete', key_of, view, '/f'],
                               env=wine.env, stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=120)
    return problems
