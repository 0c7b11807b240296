"""The WiX package's undo records, under Wine's msiexec on a 64-bit and a
32-bit prefix.

examples/wix/build.sh builds the 32-bit package, 1.0.0, 1.1.0 and 1.2.0
(the last two around a copy of modreg.exe of a higher version), as test
builds that can fail
on demand: an action that fails (modreg.exe from the Binary table with an
unknown option, status 2) sequenced after RegisterModules and after
UnregisterModules, run when the command line sets FAIL_HERE. On each
prefix, the registry's bytes compared after each step, no undo record
(Data\\modules.xml.undo-*) left behind, and the undo log
(haldetof-x86-undo.log) gaining a rollback that ended with status 0 after
each failed step and a commit after each successful one:
- a first install that fails after its registration; the same package
  without its rollback partner, which must leave the entries (the case
  before would catch a package that lost it);
- install 1.0.0, upgrade to 1.1.0, uninstall;
- install 1.0.0, an upgrade to 1.1.0 that fails after its registration
  (over a registry an editor saved since, so that the registration
  changes its bytes): the registry as it was, and --detect finds 1.0.0
  registered; a repair of 1.0.0, its uninstall;
- install 1.1.0, an uninstall that fails after its unregistration,
  install again, uninstall;
- install 1.0.0 in the default folder, upgrade to 1.1.0 into C:\\Moved,
  uninstall: no product file left in the folder left, then in either;
  the same move failing after its registration: the registry as it was,
  nothing in C:\\Moved;
- the chained upgrade 1.0.0, 1.1.0, 1.2.0: with Wine 8's msiexec the
  removal of 1.0.0 deletes the upgrade code's key, 1.1.0's product code
  with it, so that 1.2.0 finds no related product and 1.1.0 stays
  installed beside it (checked as the key shows it: without that loss,
  1.2.0 must replace 1.1.0).
Wine's msiexec rolls back custom actions only: after a failed step its
product's uninstall entry and files are as Wine leaves them (a failed
upgrade takes the older version's files away, which Windows puts back;
the test puts them back before --detect), so each failure begins a
sequence of its own. Every package built passes build.sh's own check and
the one here, and both find the faults planted in a good package with
msibuild."""
import getpass
import glob
import os
import re
import shutil
import subprocess

from cases import crlf, mod
from check_resources import version_info, with_version
from wine import WinePrefix, quiet

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD_SH = os.path.join(HERE, '..', '..', 'examples', 'wix', 'build.sh')
# Wine's msiexec fails with 1627 (1603 on Windows), seen modulo 256.
FAILED = (1603 % 256, 1627 % 256)
ENVIRONMENT = ('HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager'
               '\\Environment')


def set_framework_variable(wine, value, name='OPEN_NI_INSTALL_PATH'):
    """OPEN_NI_INSTALL_PATH (or |name|), machine-wide, as the framework's
    installer sets it."""
    status = quiet(['wine', 'reg', 'add', ENVIRONMENT, '/v',
                    name, '/t', 'REG_SZ', '/d', value, '/f'],
                   wine.env).returncode
    if status != 0:
        raise RuntimeError('wine reg add failed: %d' % status)


# The actions the test builds add: in the script, from the Binary table.
FAIL_ROWS = (('FailInstall', 4010, 'NOT REMOVE~="ALL" AND FAIL_HERE'),
             ('FailRemove', 3403, 'REMOVE~="ALL" AND FAIL_HERE'))


# ---- The tables ---------------------------------------------------------

def table(package, name):
    """Table |name| of |package| as rows of fields."""
    text = subprocess.run(['msiinfo', 'export', package, name], check=True,
                          capture_output=True, text=True).stdout
    return [line.split('\t') for line in text.replace('\r', '').split('\n')[3:]
            if line]


def table_problems(package):
    """What is wrong with the schedule of |package|'s runs of modreg.exe:
    each in the script between InstallInitialize and InstallFinalize,
    without impersonation; each run with an undo record (--undo ID)
    preceded by a rollback of ID, that by a forget of ID (a deferred
    commit), and followed by a commit of ID, all modreg.exe from the Binary
    table on the run's condition and ARCH; the
    older
    version removed after InstallFinalize."""
    seq = {row[0]: (int(row[2]), row[1])
           for row in table(package, 'InstallExecuteSequence')}
    first, last = seq['InstallInitialize'][0], seq['InstallFinalize'][0]
    problems, runs, partners = [], {}, {}
    for row in table(package, 'CustomAction'):
        action, kind, source, target = row[0], int(row[1]), row[2], row[3]
        if source not in ('ModregExe', 'ModregBin'):
            continue
        if action not in seq:
            problems.append('%s not scheduled' % action)
            continue
        if not first < seq[action][0] < last:
            problems.append('%s at %d, outside %d..%d' % (
                action, seq[action][0], first, last))
        if kind & 0xC00 != 0xC00:
            problems.append('%s of type %d' % (action, kind))
        words = target.split()
        mode = next((w for w in words if w in ('--rollback', '--commit')),
                    None)
        if mode == '--commit' and action.startswith('Forget'):
            mode = 'forget'
        if mode:
            want = {'--rollback': 0x100, '--commit': 0x200, 'forget': 0}[mode]
            if kind & 0x33F != want | 2 or source != 'ModregBin':
                problems.append('%s: %s of type %d from %s' % (
                    action, mode, kind, source))
            partners[(mode, words[-1])] = action, words[-2]
        elif '--undo' in words and kind & 0x300 == 0:
            runs[words[words.index('--undo') + 1]] = action, words[-2]
        else:
            problems.append('%s: %r' % (action, target))
    for record, (action, arch) in runs.items():
        for mode, before in (('--rollback', True), ('--commit', False),
                             ('forget', True)):
            partner, word = partners.get((mode, record), (None, None))
            if partner is None or partner not in seq:
                problems.append('%s has no %s' % (action, mode))
            elif (seq[partner][0] < seq[action][0]) != before or \
                    seq[partner][1] != seq[action][1] or word != arch:
                problems.append('%s at %s for %s, %s at %s for %s' % (
                    partner, seq[partner], word, action, seq[action], arch))
        forget = partners.get(('forget', record), (None,))[0]
        rollback = partners.get(('--rollback', record), (None,))[0]
        if forget in seq and rollback in seq and \
                seq[forget][0] >= seq[rollback][0]:
            problems.append('%s at %d, not before %s at %d' % (
                forget, seq[forget][0], rollback, seq[rollback][0]))
    if 'RegisterModules' not in [action for action, _ in runs.values()]:
        problems.append('no RegisterModules with an undo record')
    if seq.get('RemoveExistingProducts', (last + 1,))[0] <= last:
        problems.append('RemoveExistingProducts at %d' %
                        seq['RemoveExistingProducts'][0])
    return problems


def sql(package, query):
    subprocess.run(['msibuild', package, '-q', query], check=True)


# Faults a check must find: each a query on a good package.
PLANTED = {
    'the rollback partner dropped':
        "DELETE FROM `InstallExecuteSequence` WHERE `Action` = "
        "'RollbackRegister'",
    'a run outside the script':
        "UPDATE `InstallExecuteSequence` SET `Sequence` = 1450 WHERE "
        "`Action` = 'RegisterModules'",
    'a rollback after its run':
        "UPDATE `InstallExecuteSequence` SET `Sequence` = 3403 WHERE "
        "`Action` = 'RollbackUnregister'",
    'a rollback built as wixl 0.101 builds it':
        "UPDATE `CustomAction` SET `Type` = 2066 WHERE `Action` = "
        "'RollbackMove'",
    'a rollback for the other framework':
        "UPDATE `CustomAction` SET `Target` = '--openni-env --rollback x64 "
        "[ProductCode]-install' WHERE `Action` = 'RollbackRegister'",
    'a record left by an earlier installation not forgotten first':
        "UPDATE `InstallExecuteSequence` SET `Sequence` = 4007 WHERE "
        "`Action` = 'ForgetRegister'",
    'a commit that impersonates':
        "UPDATE `CustomAction` SET `Type` = 1538 WHERE `Action` = "
        "'CommitRegister'",
    'the older version removed first':
        "UPDATE `InstallExecuteSequence` SET `Sequence` = 1401 WHERE "
        "`Action` = 'RemoveExistingProducts'",
}


# Faults of how a move removes the earlier folder's files, which
# build.sh's check must find (the move's rows under Wine show the rest).
PLANTED_MOVE = {
    'a file left in the folder a move leaves':
        "DELETE FROM `RemoveFile` WHERE `FileKey` = 'MovedSkelviaIni'",
    'the files removed from the folder of every install':
        "UPDATE `InstallExecuteSequence` SET `Condition` = '' WHERE "
        "`Action` = 'SetMovedFromData'",
    'a file removed from the wrong folder':
        "UPDATE `CustomAction` SET `Target` = '[REMEMBERED_DIR]' WHERE "
        "`Action` = 'SetMovedFromData'",
}


def planted_problems(good, folder):
    """The faults of PLANTED that build.sh's check or the one here
    misses, planted in a copy of |good|."""
    missed = table_problems(good)
    for fault, query in list(PLANTED.items()) + list(PLANTED_MOVE.items()):
        bad = os.path.join(folder, 'planted.msi')
        shutil.copyfile(good, bad)
        sql(bad, query)
        said = subprocess.run(['bash', BUILD_SH, '--check', bad],
                              capture_output=True, text=True)
        if said.returncode != 1 or 'planted.msi is not sound' not in \
                said.stderr:
            missed.append('build.sh --check misses %s (status %d)' % (
                fault, said.returncode))
        if fault in PLANTED and not table_problems(bad):
            missed.append('the test\'s check misses ' + fault)
    return missed


def build(exe, modules, version, out, failing=True):
    """The package of |version| around |exe|, by build.sh, checked, then
    (|failing|) the failing actions added: returns what is wrong."""
    said = subprocess.run(['bash', BUILD_SH, 'x86', version, modules, out],
                          env=dict(os.environ, MODREG_EXE=exe),
                          capture_output=True, text=True)
    if said.returncode != 0:
        return ['build.sh: status %d: %s' % (said.returncode, said.stderr)]
    problems = table_problems(out)
    for action, sequence, condition in FAIL_ROWS * failing:
        sql(out, "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, "
            "`Target`) VALUES ('%s', 3074, 'ModregBin', '--fail-here')"
            % action)
        sql(out, "INSERT INTO `InstallExecuteSequence` (`Action`, "
            "`Condition`, `Sequence`) VALUES ('%s', '%s', %d)"
            % (action, condition, sequence))
    return problems


# ---- The cases ----------------------------------------------------------

class Place:
    """Where a prefix keeps the framework, the product and the logs."""

    def __init__(self, wine, program_files):
        self.wine = wine
        self.drive_c = os.path.join(wine.prefix, 'drive_c')
        self.program_files = program_files
        self.product = program_files + '\\HALDEToF'

    def host(self, path):
        return os.path.join(self.drive_c, *path[3:].split('\\'))

    def data(self):
        return self.host(self.program_files + '\\OpenNI\\Data')

    def registry(self):
        try:
            with open(os.path.join(self.data(), 'modules.xml'), 'rb') as f:
                return f.read()
        except FileNotFoundError:
            return None

    def put(self, data):
        shutil.rmtree(os.path.dirname(self.data()), ignore_errors=True)
        os.makedirs(self.data())
        with open(os.path.join(self.data(), 'modules.xml'), 'wb') as f:
            f.write(data)


def framework_entries(place):
    return [mod(place.program_files + '\\OpenNI\\Bin\\' + name) for name in
            ('nimMockNodes.dll', 'nimCodecs.dll', 'nimRecorder.dll')]


def shapes(place):
    """The registry before, registered, unregistered, and registered as an
    editor saves it (declaration, comment, empty elements), for |place|."""
    framework = framework_entries(place)
    product = [mod(place.product + '\\SensorModule.dll'),
               mod(place.product + '\\libskelvia_ni.dll',
                   place.product + '\\data\\')]
    edited = lambda lines: crlf(
        '<?xml version="1.0" encoding="UTF-8" standalone="no" ?>',
        '<!-- OpenNI module registry -->', '<Modules>',
        *[line[:-2] + ' />' for line in lines], '</Modules>')
    return (edited(framework + [mod(place.product + '\\SensorModule_QA4.dll')]),
            crlf('<Modules>', *framework, *product, '</Modules>', ''),
            crlf('<Modules>', *framework, '</Modules>', ''),
            edited(framework + product))


def detected(place, exe):
    """Whether modreg.exe --detect finds the product registered in its
    folder (None: the detection failed)."""
    done = subprocess.run(['wine', exe, '--detect', '--openni-env',
                           '--product-dir=' + place.product, 'x86', '5'],
                          env=place.wine.env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=120)
    if done.returncode != 0 or done.stderr:
        return None
    return done.stdout.count(b'\n') == 1


def installed_versions(place):
    """The DisplayVersion of the product's uninstall entries."""
    text = subprocess.run(
        ['wine', 'reg', 'query', 'HKLM\\Software\\Microsoft\\Windows\\'
         'CurrentVersion\\Uninstall', '/s'], env=place.wine.env,
        stdin=subprocess.DEVNULL, capture_output=True, text=True,
        timeout=120).stdout
    versions = []
    for key in text.split('HKEY_')[1:]:
        if re.search(r'DisplayName\s+REG_SZ\s+HALDE ToF camera modules\s*$',
                     key, re.M):
            found = re.search(r'DisplayVersion\s+REG_SZ\s+(\S+)', key)
            versions.append(found.group(1) if found else None)
    return versions


def undo_log(place):
    path = place.host('C:\\users\\%s\\Temp\\haldetof-x86-undo.log' %
                      getpass.getuser())
    try:
        with open(path, 'rb') as f:
            return f.read().decode('latin-1')
    except FileNotFoundError:
        return ''


def step(place, results, name, command, registry_after, versions,
         fails=False, detect=None, exe=None):
    """Runs msiexec |command| and checks the registry's bytes, the undo
    records, the product's uninstall entries and the undo log."""
    logged = len(undo_log(place))
    status = quiet(['wine', 'msiexec'] + command + ['/qn'],
                   place.wine.env).returncode
    problems = []
    if (status in FAILED) != fails or (not fails and status != 0):
        problems.append('status %d' % status)
    after = place.registry()
    if after != registry_after:
        problems.append('registry %r, expected %r' % (after, registry_after))
    left = glob.glob(os.path.join(place.data(), 'modules.xml.undo-*'))
    if left:
        problems.append('undo records left: %s' % [os.path.basename(p)
                                                    for p in left])
    found = installed_versions(place)
    if versions is not None and sorted(found) != versions:
        problems.append('installed %s, expected %s' % (found, versions))
    runs = undo_log(place)[logged:]
    mode = '--rollback' if fails else '--commit'
    if not re.search(r' %s x86 \{[0-9A-F-]{36}\}-\w+\r\n(.*\r\n)*?status: 0'
                     r'\r\n' % mode, runs):
        problems.append('no %s that ended with status 0 in the undo log: %r'
                        % (mode, runs[-300:]))
    if detect is not None and detected(place, exe) != detect:
        problems.append('--detect: not %s' % (
            'registered' if detect else 'unregistered'))
    results.check('wix rollback (%s): %s (status %d)' % (
        place.wine.arch, name, status), problems)


def registered_in(place, folder):
    """The registry after a registration of the product in |folder|."""
    return crlf('<Modules>', *framework_entries(place),
                mod(folder + '\\SensorModule.dll'),
                mod(folder + '\\libskelvia_ni.dll', folder + '\\data\\'),
                '</Modules>', '')


def product_files(place, folder):
    """The files under |folder| (None: no such folder), as relative paths."""
    top = place.host(folder)
    if not os.path.isdir(top):
        return None
    return sorted(os.path.relpath(os.path.join(at, name), top)
                  for at, _, names in os.walk(top) for name in names)


def squashed(guid):
    """A GUID as Windows Installer names its registry keys after it."""
    hexa = guid.strip('{}').replace('-', '')
    return (hexa[7::-1] + hexa[11:7:-1] + hexa[15:11:-1] + ''.join(
        hexa[i + 1] + hexa[i] for i in range(16, 32, 2))).upper()


def property_of(package, name):
    return next(row[1] for row in table(package, 'Property')
                if row[0] == name)


def upgrade_code_products(place, package):
    """The product codes the machine's Installer\\UpgradeCodes key of
    |package|'s upgrade code holds, squashed, where FindRelatedProducts
    looks for them."""
    key = ('HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer'
           '\\UpgradeCodes\\' + squashed(property_of(package, 'UpgradeCode')))
    view = ['/reg:64'] if place.wine.arch == 'win64' else []
    text = subprocess.run(['wine', 'reg', 'query', key] + view,
                          env=place.wine.env, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=120).stdout
    return re.findall(r'^\s+([0-9A-F]{32})\s+REG_SZ', text, re.M)


def put_back(place, modules):
    """Puts the product's module files back into its folder, as Windows'
    rollback of an upgrade does (Wine's takes them away)."""
    for name in ('SensorModule.dll', 'libskelvia_ni.dll', 'data/skelvia.ini'):
        target = os.path.join(place.host(place.product), *name.split('/'))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if not os.path.exists(target):
            shutil.copyfile(os.path.join(modules, name), target)


def run_prefix(place, exe, modules, results):
    before, registered, unregistered, edited = shapes(place)
    set_framework_variable(place.wine, place.program_files + '\\OpenNI')
    pkg = lambda name: 'C:\\installers\\msi-rollback\\' + name
    go = lambda name, command, after, versions, **more: step(
        place, results, name, command, after, versions, exe=exe, **more)
    # Wine's msiexec rolls back the custom actions only: after a failed
    # step the product's uninstall entry and files are as Wine leaves them
    # (not checked), and each failure begins a sequence of its own.
    place.put(before)
    go('first install, failing after its registration',
       ['/i', pkg('older.msi'), 'FAIL_HERE=1'], before, None, fails=True)
    # The same package without RollbackRegister: the entries stay, which
    # the case above would have found.
    place.put(before)
    quiet(['wine', 'msiexec', '/i', pkg('norollback.msi'), 'FAIL_HERE=1',
           '/qn'], place.wine.env)
    left = place.registry()
    results.check('wix rollback (%s): without its rollback partner, a failed '
                  'first install leaves the entries (the case above fails)'
                  % place.wine.arch,
                  [] if left == registered else ['registry %r' % left])
    # Install, upgrade, uninstall.
    place.put(before)
    go('install 1.0.0', ['/i', pkg('older.msi')], registered, ['1.0.0'],
       detect=True)
    go('upgrade to 1.1.0', ['/i', pkg('newer.msi')], registered, ['1.1.0'],
       detect=True)
    go('uninstall', ['/x', pkg('newer.msi')], unregistered, [],
       detect=False)
    # A failed upgrade; then a repair of 1.0.0 and its uninstall.
    place.put(before)
    go('install 1.0.0 again', ['/i', pkg('older.msi')], registered,
       ['1.0.0'])
    place.put(edited)
    go('upgrade to 1.1.0, failing after its registration',
       ['/i', pkg('newer.msi'), 'FAIL_HERE=1'], edited, None, fails=True)
    put_back(place, modules)
    results.check('wix rollback (%s): after the failed upgrade, --detect '
                  'finds 1.0.0 registered (its files put back as Windows '
                  'would)' % place.wine.arch,
                  [] if detected(place, exe) else ['not registered'])
    go('repair 1.0.0', ['/i', pkg('older.msi'), 'REINSTALL=ALL',
                        'REINSTALLMODE=omus'], registered, ['1.0.0'],
       detect=True)
    go('uninstall 1.0.0', ['/x', pkg('older.msi')], unregistered, [],
       detect=False)
    # A failed uninstall; then an install and its uninstall.
    place.put(before)
    go('install 1.1.0', ['/i', pkg('newer.msi')], registered, ['1.1.0'])
    go('uninstall, failing after its unregistration',
       ['/x', pkg('newer.msi'), 'FAIL_HERE=1'], registered, None,
       fails=True)
    go('install 1.1.0 again', ['/i', pkg('newer.msi')], registered, None)
    go('uninstall 1.1.0', ['/x', pkg('newer.msi')], unregistered, [])
    run_moves(place, results, exe, pkg, go)


MOVED = 'C:\\Moved'
FILES = ['SensorModule.dll', os.path.join('data', 'skelvia.ini'),
         'libskelvia_ni.dll', 'modreg.exe']


def run_moves(place, results, exe, pkg, go):
    """A move into another folder, its uninstall and a failed move; the
    chained upgrade."""
    before, registered, unregistered, _ = shapes(place)
    moved = registered_in(place, MOVED)
    files = lambda: {place.product: product_files(place, place.product),
                     MOVED: product_files(place, MOVED)}
    tell = lambda name, want: results.check(
        'wix rollback (%s): %s: %s' % (place.wine.arch, name, ', '.join(
            '%s holds %s' % item for item in want.items())),
        [] if files() == want else ['found %s' % files()])
    into = 'INSTALLDIR=' + MOVED + '\\'
    place.put(before)
    go('install 1.0.0 into the default folder', ['/i', pkg('older.msi')],
       registered, ['1.0.0'], detect=True)
    go('upgrade to 1.1.0 into C:\\Moved', ['/i', pkg('newer.msi'), into],
       moved, ['1.1.0'])
    tell('after the move, the folder left holds no file',
         {place.product: None, MOVED: FILES})
    go('uninstall 1.1.0 from C:\\Moved', ['/x', pkg('newer.msi')],
       unregistered, [])
    tell('after the uninstall, neither folder holds a file',
         {place.product: None, MOVED: None})
    # Wine's rollback of RemoveFiles is its InstallFiles, which puts back
    # no file a RemoveFile row deleted: the folder left stays empty here,
    # where Windows puts its files back.
    place.put(before)
    go('install 1.0.0 again into the default folder',
       ['/i', pkg('older.msi')], registered, ['1.0.0'])
    go('upgrade to 1.1.0 into C:\\Moved, failing after its registration',
       ['/i', pkg('newer.msi'), into, 'FAIL_HERE=1'], registered, None,
       fails=True)
    found = files()
    results.check('wix rollback (%s): after the failed move, nothing in '
                  'C:\\Moved; the folder left holds %s (Windows puts its '
                  'files back)' % (place.wine.arch, found[place.product]),
                  [] if found[MOVED] is None else ['found %s' % found])
    # Wine's rollback leaves C:\\Moved remembered: the removal of 1.0.0
    # after it runs in C:\\Moved. Not checked: the next case starts anew.
    quiet(['wine', 'msiexec', '/x', pkg('older.msi'), '/qn'], place.wine.env)
    for folder in (place.product, MOVED):
        shutil.rmtree(place.host(folder), ignore_errors=True)

    # The chained upgrade. The removal of 1.0.0 after 1.1.0's
    # InstallFinalize: Wine 8's remove_product_upgrade_code (dlls/msi/
    # action.c) counts the key's values with RegQueryInfoKeyW's seventh
    # argument, the longest class name (0), and deletes the upgrade
    # code's keys, 1.1.0's value with them.
    codes = {version: squashed(property_of(os.path.join(
        place.drive_c, 'installers', 'msi-rollback', name), 'ProductCode'))
        for version, name in (('1.0.0', 'older.msi'), ('1.1.0', 'newer.msi'),
                              ('1.2.0', 'newest.msi'))}
    upgrade_codes = lambda: upgrade_code_products(
        place, os.path.join(place.drive_c, 'installers', 'msi-rollback',
                            'older.msi'))
    place.put(before)
    go('chained: install 1.0.0', ['/i', pkg('older.msi')], registered,
       ['1.0.0'])
    held = upgrade_codes()
    results.check('wix rollback (%s): chained: Installer\\UpgradeCodes holds '
                  '1.0.0 once installed' % place.wine.arch,
                  [] if held == [codes['1.0.0']] else ['it holds %s' % held])
    go('chained: upgrade to 1.1.0', ['/i', pkg('newer.msi')], registered,
       ['1.1.0'])
    lost = codes['1.1.0'] not in upgrade_codes()
    left = ['1.1.0'] if lost else []
    go('chained: upgrade to 1.2.0 (%s)' % (
        'Wine: the removal of 1.0.0 took 1.1.0 out of Installer\\'
        'UpgradeCodes; 1.2.0 finds no related product, 1.1.0 stays installed'
        if lost else '1.2.0 replaces 1.1.0'),
       ['/i', pkg('newest.msi')], registered, left + ['1.2.0'], detect=True)
    go('chained: uninstall 1.2.0', ['/x', pkg('newest.msi')], unregistered,
       left, detect=False)
    if lost:
        # 1.1.0, still a client of the components, kept their files; its
        # own removal takes them (its entries are out already).
        quiet(['wine', 'msiexec', '/x', pkg('newer.msi'), '/qn'],
              place.wine.env)
    results.check('wix rollback (%s): chained: no product left installed, '
                  'no file left' % place.wine.arch,
                  [] if (installed_versions(place), files()) == (
                      [], {place.product: None, MOVED: None}) else
                  ['installed %s, files %s' % (installed_versions(place),
                                               files())])
    shutil.rmtree(os.path.dirname(place.data()), ignore_errors=True)


def run(exe, modules, work, out, results, wine64):
    """The cases, in |wine64| (running, with C:\\installers at |out|) and
    in a 32-bit prefix made under |work|."""
    folder = os.path.join(out, 'msi-rollback')
    os.makedirs(folder, exist_ok=True)
    older = version_info(exe)[0]['FileVersion']
    at = max(i for i, c in enumerate(older) if c in '012345678')
    newer_exe = os.path.join(folder, 'newer', 'modreg.exe')
    os.makedirs(os.path.dirname(newer_exe), exist_ok=True)
    with_version(exe, newer_exe, older[:at] + str(int(older[at]) + 1) +
                 older[at + 1:])
    problems = build(exe, modules, '1.0.0', os.path.join(folder, 'older.msi'))
    problems += build(newer_exe, modules, '1.1.0',
                      os.path.join(folder, 'newer.msi'))
    problems += build(newer_exe, modules, '1.2.0',
                      os.path.join(folder, 'newest.msi'))
    results.check('wix rollback: the test builds pass build.sh\'s check and '
                  'the test\'s', problems)
    if problems:
        return
    good = os.path.join(folder, 'good.msi')
    problems = build(exe, modules, '1.0.0', good, failing=False)
    results.check('wix rollback: both checks find each fault planted in a '
                  'good package (%s); build.sh\'s check those of a move '
                  '(%s)' % (', '.join(PLANTED), ', '.join(PLANTED_MOVE)),
                  problems or planted_problems(good, folder))
    norollback = os.path.join(folder, 'norollback.msi')
    shutil.copyfile(os.path.join(folder, 'older.msi'), norollback)
    sql(norollback, "DELETE FROM `InstallExecuteSequence` WHERE `Action` = "
        "'RollbackRegister'")
    run_prefix(Place(wine64, 'C:\\Program Files (x86)'), exe, modules,
               results)
    wine32 = WinePrefix(os.path.join(work, 'prefix32'), 'win32')
    shutil.rmtree(wine32.prefix, ignore_errors=True)
    wine32.start()
    try:
        installers = os.path.join(wine32.prefix, 'drive_c', 'installers')
        shutil.copytree(folder, os.path.join(installers, 'msi-rollback'))
        run_prefix(Place(wine32, 'C:\\Program Files'), exe, modules,
                   results)
    finally:
        wine32.stop()
