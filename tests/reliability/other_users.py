#!/usr/bin/env python3
"""What another user of the registry's folder can do to an elevated run,
natively and, with --wine, to modreg.exe under Wine.

Planted links: another process keeps planting symbolic links at the
temporary files' names (modules.xml.tmp, modules.xml.old.tmp), leading to
a victim file, while the tool runs many times (the backup removed before
each run, so that each run makes one). No run may change the victim, and
every run either succeeds or fails with status 5 naming the file.

Under Wine besides: a read-only registry stays read-only and a hidden,
system one hidden and system (Wine keeps those two in the extended
attribute user.DOSATTRIB and maps read-only and the DACL to mode bits);
read-only leftovers of a killed run are removed; a folder whose mode Wine
maps to a DACL that lets Everyone write gets the warning; and without an
OpenNI\\Data folder an unregistration takes no lock, so one held by
another run (modreg_faults.exe, --wine-faults) does not hold it up. A run
under a tracing wineserver shows that each new file's DACL is set as
protected from the folder's entries, or not, as the file it copies was
(Wine reports no DACL as protected, so there only the second shows)."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

import common

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                '..', 'e2e'))
from wine import WinePrefix  # noqa: E402

VICTIM = b'the victim: no run of the tool may write here\n'
TEMPS = (common.REGISTRY + '.tmp', common.BACKUP + '.tmp')
PLANTER = '''
import os, sys
victim, names = sys.argv[1], sys.argv[2:]
while True:
    for name in names:
        try:
            os.symlink(victim, name)
        except OSError:
            pass
'''
WARNING = ('modreg: warning: C:\\Program Files\\OpenNI\\Data%s can be '
           'changed by users who are not administrators: any of them can '
           'choose the modules every OpenNI application loads')


def reset(prefix, registry=None):
    folder = common.make_prefix(prefix)
    os.chmod(folder, 0o755)
    for name in os.listdir(folder):
        os.unlink(os.path.join(folder, name))
    with open(os.path.join(folder, common.REGISTRY), 'wb') as f:
        f.write(registry or common.registry_text())
    return folder


def run(command, env, *args):
    p = subprocess.run(command + list(args), env=env,
                       stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=120)
    return p.returncode, p.stderr.decode('utf-8', 'replace').strip()


def planted_links(results, label, command, prefix, env, runs):
    folder = reset(prefix)
    victim = os.path.join(prefix, 'victim.txt')
    with open(victim, 'wb') as f:
        f.write(VICTIM)
    planter = subprocess.Popen(
        [sys.executable, '-c', PLANTER, victim] +
        [os.path.join(folder, name) for name in TEMPS])
    problems = []
    counts = {}
    try:
        for _ in range(runs):
            backup = os.path.join(folder, common.BACKUP)
            if os.path.lexists(backup):
                os.unlink(backup)
            status, err = run(command, env, 'x64', '1')
            counts[status] = counts.get(status, 0) + 1
            if status not in (0, 5) or (status == 5 and '.tmp' not in err):
                problems.append('a run gave status %d %r' % (status, err))
    finally:
        planter.kill()
        planter.wait()
    if not os.path.isfile(victim):
        problems.append('the victim was removed or moved')
    else:
        with open(victim, 'rb') as f:
            if f.read() != VICTIM:
                problems.append('the victim was written')
    results.check('%s: links planted at the temporary names, %d runs '
                  '(status 0: %d, 5: %d)' % (label, runs, counts.get(0, 0),
                                             counts.get(5, 0)),
                  problems[:3])


def dos_attributes(path):
    try:
        return int(os.getxattr(path, 'user.DOSATTRIB').decode(), 16)
    except OSError:
        return 0


HIDDEN_SYSTEM = 0x6


def protection_kept(results, wine, exe):
    command = ['wine', exe]
    for name, mode, attributes, leftovers in (
            ('read-only', 0o444, 0, ()),
            ('hidden and system', 0o640, 0x6, TEMPS)):
        folder = reset(wine.prefix)
        registry = os.path.join(folder, common.REGISTRY)
        os.chmod(registry, mode)
        if attributes:
            os.setxattr(registry, 'user.DOSATTRIB', b'0x%x' % attributes)
        # A killed run's read-only leftovers.
        for temp in leftovers:
            with open(os.path.join(folder, temp), 'wb') as f:
                f.write(b'<Mod')
            os.chmod(os.path.join(folder, temp), 0o444)
        status, err = run(command, wine.env, 'x64', '1')
        problems = [] if status == 0 and not err else [
            'status %d %r' % (status, err)]
        now = os.stat(registry).st_mode
        with open(registry, 'rb') as f:
            if b'HALDEToF\\SensorModule.dll' not in f.read():
                problems.append('the registry was not updated')
        if mode & 0o222 == 0 and now & 0o222:
            problems.append('now writable (mode %o)' % (now & 0o777))
        if now & 0o006 != mode & 0o006:  # Wine may add execute
            problems.append('others\' mode bits %o, were %o' % (
                now & 0o006, mode & 0o006))
        if dos_attributes(registry) & HIDDEN_SYSTEM != attributes:
            problems.append('DOS attributes %#x, were %#x' % (
                dos_attributes(registry), attributes))
        if common.leftovers(folder):
            problems.append('left behind: %s' % common.leftovers(folder))
        results.check('wine: a %s registry keeps its attributes%s' % (
                          name, leftovers and ', read-only leftovers go' or ''),
                      problems)


def open_folder(results, wine, exe):
    folder = reset(wine.prefix)
    os.chmod(folder, 0o777)
    status, err = run(['wine', exe], wine.env, 'x64', '1')
    check = subprocess.run(['wine', exe, '--check', 'x64'], env=wine.env,
                           stdin=subprocess.DEVNULL, capture_output=True,
                           text=True, timeout=120)
    os.chmod(folder, 0o755)
    results.check('wine: a folder Everyone may write: the warning, and '
                  '--check says so', ([] if status == 0 and err == WARNING % ''
                                      else ['status %d %r' % (status, err)]) +
                  ([] if check.returncode == 1 and
                   'unsafe: C:\\Program Files\\OpenNI\\Data (can be changed'
                   in check.stdout else ['--check: status %d, %r' % (
                       check.returncode, check.stdout)]))


def no_folder_no_lock(results, wine, faults_exe):
    """A run holds the lock; the folder goes; an unregistration waiting at
    most 2 s must not wait at all."""
    reset(wine.prefix)
    holder = subprocess.Popen(
        ['wine', faults_exe, 'x64', '8'],
        env=dict(wine.env, MODREG_FAULT='hold-lock:20'),
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE)
    try:
        said = holder.stderr.readline().decode('utf-8', 'replace').strip()
        shutil.rmtree(common.data_dir(wine.prefix))
        status, err = run(['wine', faults_exe], dict(
            wine.env, MODREG_LOCK_WAIT_MS='2000'), '--unregister', 'x64', '8')
    finally:
        holder.kill()
        holder.wait()
    problems = [] if said.startswith('modreg_faults: holding the lock') else [
        'the first run said %r' % said]
    if status != 0 or err:
        problems.append('status %d %r' % (status, err))
    results.check('wine: no OpenNI\\Data folder: an unregistration takes no '
                  'lock', problems)


# The wineserver's trace of a security descriptor read (the request and
# its reply) and set.
SD_READ = re.compile(r': get_security_object\( handle=\w+, '
                     r'security_info=([0-9a-f]+) \)')
SD_READ_REPLY = re.compile(r': get_security_object\(\) = 0 \{ sd_len=\w+, '
                           r'sd=\{control=([0-9a-f]+),')
SD_SET = re.compile(r': set_security_object\( handle=\w+, '
                    r'security_info=([0-9a-f]+),')
DACL = 0x4
OWNER_GROUP_DACL = 0x7
SE_DACL_PROTECTED = 0x1000
PROTECTED_DACL = 0x80000000
UNPROTECTED_DACL = 0x20000000


def dacl_sets(trace):
    """(the control bits of the descriptor read last, the parts asked to
    set) for each DACL set in a wineserver trace: TakeProtection reads the
    old file's owner, group and DACL, then sets the DACL of the new one."""
    sets, control, reading = [], None, False
    for line in trace:
        found = SD_READ.search(line)
        if found:
            reading = int(found.group(1), 16) == OWNER_GROUP_DACL
            continue
        found = SD_READ_REPLY.search(line)
        if found and reading:
            control = int(found.group(1), 16)
            continue
        found = SD_SET.search(line)
        if found and int(found.group(1), 16) & DACL:
            sets.append((control, int(found.group(1), 16)))
    return sets


def dacl_protection(results, wine, exe, work):
    reset(wine.prefix)
    p, trace = common.traced_wine_run(
        wine, [exe, 'x64', '1'], os.path.join(work, 'wineserver-trace.txt'))
    problems = [] if p.returncode == 0 and not p.stderr else [
        'status %d %r' % (p.returncode, p.stderr)]
    sets = dacl_sets(trace)
    # The backup's temporary file and the registry's.
    if len(sets) != 2:
        problems.append('%d DACLs set, expected 2' % len(sets))
    for control, parts in sets:
        want = PROTECTED_DACL if control is not None and \
            control & SE_DACL_PROTECTED else UNPROTECTED_DACL
        if parts & (PROTECTED_DACL | UNPROTECTED_DACL) != want:
            problems.append('a DACL set with security_info=%08x after '
                            'reading one with control=%s' % (
                                parts, control if control is None
                                else '%08x' % control))
    results.check('wine: each new file\'s DACL keeps the old one\'s '
                  'protected flag', problems)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--tool', required=True, help='the native modreg')
    parser.add_argument('--wine', help='modreg.exe, run under Wine')
    parser.add_argument('--wine-faults', help='modreg_faults.exe')
    parser.add_argument('--wine-prefix', help='the Wine prefix to use')
    parser.add_argument('--work', required=True, help='scratch folder')
    parser.add_argument('--runs', type=int, default=300)
    parser.add_argument('--wine-runs', type=int, default=30)
    args = parser.parse_args()
    work = os.path.abspath(args.work)
    results = common.Results('other users')

    prefix = os.path.join(work, 'native')
    shutil.rmtree(prefix, ignore_errors=True)
    planted_links(results, 'native', [os.path.abspath(args.tool)], prefix,
                  dict(os.environ, WINEPREFIX=prefix), args.runs)
    runs = args.runs
    if args.wine:
        exe = os.path.abspath(args.wine)
        wine = WinePrefix(args.wine_prefix or os.path.join(work, 'wine'))
        start = time.monotonic()
        try:
            wine.start()
            print('     wine: prefix ready in %.1f s' % (
                time.monotonic() - start), flush=True)
            planted_links(results, 'wine', ['wine', exe], wine.prefix,
                          wine.env, args.wine_runs)
            runs += args.wine_runs
            protection_kept(results, wine, exe)
            open_folder(results, wine, exe)
            if args.wine_faults:
                no_folder_no_lock(results, wine,
                                  os.path.abspath(args.wine_faults))
            dacl_protection(results, wine, exe, work)
        finally:
            wine.stop()
            shutil.rmtree(common.data_dir(wine.prefix), ignore_errors=True)
    results.figure('runs against planted links', '%d, no victim written' %
                   runs if not results.failed else '%d' % runs)
    results.exit()


if __name__ == '__main__':
    main()
