"""The NSIS example's undo records, under Wine on a 64-bit and a 32-bit
prefix.

setup.nsi built as the product's installer (1.0.0), and with a later step
of the product's that fails: -DLATER_STEPS (1.0.1) and
-DLATER_UNINSTALL_STEPS (an uninstaller built into 1.0.0). The step copies
modules.xml aside, then aborts: the install's with SetErrorLevel 42, the
uninstall's with a bare Abort (NSIS's 2). The copy shows that the step ran
after modreg.exe: it holds the new entries (install, move) or lacks them
(uninstall). After each failure the registry has its bytes before (a
registry an editor saved, which a registration rewrites), no undo record
(Data\\modules.xml.undo-*) is left, the exit status is the step's, and the
product is detected where it was installed, by modreg.exe --detect and by
detect.cmd (a failed first install: not detected, no folder):
- a first install that fails;
- 1.0.0 installed (its commit leaves no record), an upgrade to 1.0.1 that
  fails, the same into another folder (a move: two records rolled back);
- an uninstall that fails; then a repair and the uninstall, which leaves
  no record either (its commit runs after the files went)."""
import glob
import os
import shutil
import subprocess

from cases import crlf, mod
from detect_scripts import detect_script
from msi_rollback import Place, detected, installed_versions, \
    set_framework_variable, shapes
from wine import WinePrefix, quiet

HERE = os.path.dirname(os.path.abspath(__file__))
SETUP = os.path.join(HERE, '..', '..', 'examples', 'nsis', 'setup.nsi')
FOLDER = 'C:\\installers\\nsis-rollback'
MOVED = 'C:\\Sensors\\Moved HALDE'
# The product's later step: the x86 framework's registry is under
# $PROGRAMFILES in either width of Windows.
STEP = ('CopyFiles /SILENT "$PROGRAMFILES\\OpenNI\\Data\\modules.xml" '
        '"%s\\copy.xml"\r\n' % FOLDER)
INSTALL_STEP = STEP + 'SetErrorLevel 42\r\nAbort "a later step failed"\r\n'
UNINSTALL_STEP = STEP + 'Abort "a later step failed"\r\n'


def build(exe, modules, out):
    """The installers, in |out|: 1.0.0; 1.0.1 whose later step fails;
    1.0.0 whose uninstaller's later step fails."""
    os.makedirs(out, exist_ok=True)
    for name, text in (('later.nsh', INSTALL_STEP),
                       ('later-uninstall.nsh', UNINSTALL_STEP)):
        with open(os.path.join(out, name), 'w', newline='') as f:
            f.write(text)
    for name, version, more in (
            ('haldetof.exe', '1.0.0', []),
            ('haldetof-failing.exe', '1.0.1',
             ['-DLATER_STEPS=' + os.path.join(out, 'later.nsh')]),
            ('haldetof-failing-uninstall.exe', '1.0.0',
             ['-DLATER_UNINSTALL_STEPS=' +
              os.path.join(out, 'later-uninstall.nsh')])):
        subprocess.run(['makensis', '-V2', '-WX', '-DMODREG_SOURCE=' + exe,
                        '-DMODULES=' + modules, '-DVERSION=' + version,
                        '-DOUTFILE=' + os.path.join(out, name)] + more +
                       [SETUP], check=True,
                       env={k: v for k, v in os.environ.items()
                            if not k.startswith('MODREG_SIGN_')})


def registered_in(place, folder):
    """The registry registered with the product in |folder|."""
    pf = place.program_files
    return crlf('<Modules>', *[mod(pf + '\\OpenNI\\Bin\\' + name) for name in
                               ('nimMockNodes.dll', 'nimCodecs.dll',
                                'nimRecorder.dll')],
                mod(folder + '\\SensorModule.dll'),
                mod(folder + '\\libskelvia_ni.dll', folder + '\\data\\'),
                '</Modules>', '')


def run_prefix(place, exe, results):
    before, registered, unregistered, edited = shapes(place)
    set_framework_variable(place.wine, place.program_files + '\\OpenNI')
    shutil.rmtree(place.host(place.product), ignore_errors=True)
    copy = place.host(FOLDER + '\\copy.xml')

    def step(name, command, registry, after, status_after, versions,
             copied=None, installed=True, folders=()):
        """Lays out |registry|, runs |command|, checks what it left."""
        place.put(registry)
        if os.path.exists(copy):
            os.remove(copy)
        status = quiet(['wine'] + command, place.wine.env).returncode
        problems = [] if status == status_after else [
            'status %d, not %d' % (status, status_after)]
        if place.registry() != after:
            problems.append('registry %r, expected %r' % (place.registry(),
                                                          after))
        left = glob.glob(os.path.join(place.data(), 'modules.xml.undo-*'))
        if left:
            problems.append('undo records left: %s' % [
                os.path.basename(p) for p in left])
        found = open(copy, 'rb').read() if os.path.exists(copy) else None
        if found != copied:
            problems.append('the later step\'s copy %r, expected %r' % (
                found, copied))
        if installed_versions(place) != versions:
            problems.append('installed %s, expected %s' % (
                installed_versions(place), versions))
        if detected(place, exe) != installed:
            problems.append('--detect: %s' % detected(place, exe))
        said = detect_script(place.wine, 'nsis', ['wine', 'cmd'], 'x86')
        if said[0] != 0 or bool(said[1]) != installed:
            problems.append('detect.cmd: status %d, %r' % said[:2])
        if os.path.isdir(place.host(place.product)) != installed:
            problems.append('%s %s' % (place.product, 'there' if not installed
                                       else 'missing'))
        for folder in folders:
            if os.path.exists(place.host(folder)):
                problems.append('%s left behind' % folder)
        results.check('nsis rollback (%s): %s (status %d)' % (
            place.wine.arch, name, status), problems)

    def uninstall(name):
        """The installed uninstaller, run from a copy for its folder."""
        shutil.copyfile(place.host(place.product + '\\uninstall.exe'),
                        place.host(FOLDER + '\\' + name))
        return [FOLDER + '\\' + name, '/S'] + \
            ('_?=' + place.product).split(' ')

    setup = lambda name, *more: [FOLDER + '\\haldetof%s.exe' % name,
                                 '/S'] + list(more)
    step('first install, its later step failing', setup('-failing'),
         before, before, 42, [], registered, installed=False)
    step('install 1.0.0', setup(''), before, registered, 0, ['1.0.0'])
    step('upgrade to 1.0.1, its later step failing', setup('-failing'),
         edited, edited, 42, ['1.0.0'], registered,
         folders=[place.product + '\\.previous'])
    step('the same into another folder, %s' % MOVED,
         setup('-failing', *('/D=' + MOVED).split(' ')), edited, edited,
         42, ['1.0.0'], registered_in(place, MOVED), folders=[MOVED])
    step('repair with an uninstaller whose later step fails',
         setup('-failing-uninstall'), registered, registered, 0, ['1.0.0'])
    step('uninstall, its later step failing (NSIS\'s 2)',
         uninstall('uninstall-failing.exe'), edited, edited, 2, ['1.0.0'],
         unregistered)
    step('repair', setup(''), edited, registered, 0, ['1.0.0'])
    step('uninstall', uninstall('uninstall.exe'), registered, unregistered,
         0, [], installed=False)
    shutil.rmtree(os.path.dirname(place.data()), ignore_errors=True)


def run(exe, modules, work, out, results, wine64):
    """The cases in |wine64| (running, with C:\\installers at |out|), then
    in the 32-bit prefix under |work|, made unless one is there."""
    build(exe, modules, os.path.join(out, 'nsis-rollback'))
    run_prefix(Place(wine64, 'C:\\Program Files (x86)'), exe, results)
    wine32 = WinePrefix(os.path.join(work, 'prefix32'), 'win32')
    wine32.start()
    try:
        installers = os.path.join(wine32.prefix, 'drive_c', 'installers',
                                  'nsis-rollback')
        shutil.rmtree(installers, ignore_errors=True)
        shutil.copytree(os.path.join(out, 'nsis-rollback'), installers)
        run_prefix(Place(wine32, 'C:\\Program Files'), exe, results)
    finally:
        wine32.stop()
