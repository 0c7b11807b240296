#!/usr/bin/env python3
"""Faults on the write path. Each step of the registry's rewrite (creating
the temporary file, writing, flushing, closing, replacing) and of the
backup (copying, naming) is made to fail: by the system where it can be
made to (a file size limit, a directory or a dangling link in the way, a
full tmpfs, an address space too small for the registry), by the
fault-injecting build of the tool elsewhere. After each: the registry
keeps its bytes, the backup is whole or absent, no temporary file is
left, stderr names the file and the reason, and the status is the
documented one (5 when the registry cannot be written, 7 out of memory; a
failed backup is a warning only, and none when the registry could not
be read: the read's failure is the one line). A run killed at a step is
followed by a normal run, which must succeed and clean up. One run is
traced (strace): each temporary file is flushed before it takes its name (the
registry's after it got the old one's mode), and the folder after the
registry's replace, or a power cut could leave an
empty file under the registry's name; and every file the run creates
(the temporary files, a new --log) is created with mode 0600, so that no
other user can open it before it has the registry's protection.

Besides: an unregistration in a folder the process may not enter (run
as nobody: root passes every permission check) is status 3, not "no
registry"; a registry that is a symbolic link stays one, and the file it
leads to is updated, keeping its mode; a folder anyone may write gets the
warning. With --wine, modreg.exe is traced too, with the wineserver it
starts (strace -f -y): each temporary file is fsynced before the server
renames it, and the new log is created with no access for
others. And another program (hold_open.c beside this script, built
with MinGW) holds the registry open while modreg.exe replaces it: let go
a second after the new registry is written, the replace waits for it
(status 0, the entries written); held on, the run gives up after its bound
with status 5, says that the file is in use by another program, and the
registry keeps its bytes.

A fault this machine can make counts as run or as failed, never as
skipped; only a tmpfs that a user other than root cannot mount, or a run
as another user where there is no such user, is skipped, by name."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

import common

MASK = 5
SMALL = common.registry_text()
LARGE = common.registry_text(filler=8000)  # about 570 KB
# The new registry is written in chunks of 1 MiB: this one takes several.
HUGE = common.registry_text(filler=60000)
# Its rewrite drops the comment: the backup is large, the new file small.
COMMENTED = common.registry_text(comment=700 * 1024)
# About 10.7 MB: its text fits in 16 MiB of address space, its tree does
# not (the run needs about 40).
OVERSIZED = common.registry_text(filler=150000)
OTHER_BACKUP = b'<Modules/>\r\n'  # a backup from an earlier run


class Case:
    def __init__(self, name, status, registry=SMALL, faults=None, limit=None,
                 backup=None, setup=None, tmpfs=None, expect_registry='same',
                 expect_backup='whole', stderr=(), keep=(), kill=False,
                 memory=None, trace=False, options=(), user=None,
                 check=None, lines=None):
        self.name = name
        self.status = status
        self.registry = registry
        self.faults = faults          # MODREG_FAULT for the faults build
        self.limit = limit            # file size limit in bytes
        self.backup = backup          # bytes of a backup made earlier
        self.setup = setup            # puts an obstacle in the folder
        self.tmpfs = tmpfs            # size of a tmpfs to run in
        self.expect_registry = expect_registry  # 'same', 'new' or a check
        self.expect_backup = expect_backup      # 'whole', 'absent', 'kept'
        self.stderr = stderr          # texts stderr must hold
        self.keep = keep              # obstacles that stay in the folder
        self.kill = kill              # killed there: a normal run follows
        self.memory = memory          # address space limit in bytes
        self.trace = trace            # check the flushes under strace
        # Options before ARCH and MASK; {folder} is the registry's folder.
        self.options = list(options)
        self.user = user              # run as this user, not root
        self.check = check            # one more check of the folder
        self.lines = lines            # how many lines stderr has, if told


def directory_at(name):
    def setup(folder):
        os.mkdir(os.path.join(folder, name))
        with open(os.path.join(folder, name, 'inside'), 'wb') as f:
            f.write(b'kept')
    return setup


def directory_intact(folder, name):
    path = os.path.join(folder, name)
    if not os.path.isdir(path) or os.path.islink(path):
        return '%s is no longer a directory' % name
    if os.listdir(path) != ['inside']:
        return '%s holds %s' % (name, os.listdir(path))
    return None


def dangling_registry(folder):
    os.symlink('moved-away.xml', os.path.join(folder, common.REGISTRY))


def dangling_intact(folder):
    path = os.path.join(folder, common.REGISTRY)
    if not os.path.islink(path) or os.readlink(path) != 'moved-away.xml':
        return 'the registry link was changed'
    return None


def folder_not_enterable(folder):
    # Others may list it, and so lock it, but not enter it.
    os.chmod(folder, 0o744)


def folder_open(folder):
    os.chmod(folder, 0o777)


FRAMEWORK = os.path.join('..', 'Framework', 'modules.xml')


def registry_linked(folder):
    """The registry moved to another folder, a link in its place."""
    target = os.path.join(folder, FRAMEWORK)
    os.makedirs(os.path.dirname(target))
    os.rename(os.path.join(folder, common.REGISTRY), target)
    os.chmod(target, 0o640)
    os.symlink(FRAMEWORK, os.path.join(folder, common.REGISTRY))


def linked_registry_updated(folder):
    path = os.path.join(folder, common.REGISTRY)
    target = os.path.join(folder, FRAMEWORK)
    if not os.path.islink(path) or os.readlink(path) != FRAMEWORK:
        return 'the registry is no longer a link to %s' % FRAMEWORK
    with open(target, 'rb') as f:
        if b'HALDEToF\\SensorModule.dll' not in f.read():
            return 'the file the link leads to was not updated'
    if os.stat(target).st_mode & 0o7777 != 0o640:
        return 'the linked file has mode %o, not 640' % (
            os.stat(target).st_mode & 0o7777)
    if os.listdir(os.path.dirname(target)) != ['modules.xml']:
        return 'beside the linked file: %s' % os.listdir(
            os.path.dirname(target))
    return None


def mode_is(path, mode):
    now = os.stat(path).st_mode & 0o7777
    return None if now == mode else '%s has mode %o, not %o' % (
        os.path.basename(path), now, mode)


def linked_registry_kept(folder):
    path = os.path.join(folder, common.REGISTRY)
    if not os.path.islink(path) or os.readlink(path) != FRAMEWORK:
        return 'the registry is no longer a link to %s' % FRAMEWORK
    with open(path, 'rb') as f:
        return None if f.read() == SMALL else 'the linked file changed'


def crafted_exports(folder, names=100000, length=1 << 20):
    """A DLL whose export names all point at one string of |length| bytes:
    a reader that copies each name asks for |names| times that."""
    import struct
    opt, name_table = 0x58, 0x400
    ordinals = name_table + 4 * names
    string_at = ordinals + 2 * names
    b = bytearray(string_at + length + 1)
    b[0:2] = b'MZ'
    struct.pack_into('<I', b, 0x3c, 0x40)
    b[0x40:0x44] = b'PE\0\0'
    struct.pack_into('<HHIIIHH', b, 0x44, 0x14c, 0, 0, 0, 0, 224, 0x2102)
    struct.pack_into('<H', b, opt, 0x10b)
    struct.pack_into('<I', b, opt + 60, len(b))   # all of it headers
    struct.pack_into('<III', b, opt + 92, 16, 0x200, 40)
    struct.pack_into('<IIIII', b, 0x200 + 20, 1, names, 0, name_table,
                     ordinals)
    struct.pack_into('<%dI' % names, b, name_table, *[string_at] * names)
    b[string_at:string_at + length] = b'A' * length
    with open(os.path.join(folder, '..', 'crafted.dll'), 'wb') as f:
        f.write(b)


# A registry whose first module is that DLL, beside the Data folder.
WITH_CRAFTED = (b'<Modules>\r\n\t<Module path="C:\\Program Files\\OpenNI'
                b'\\crafted.dll"/>\r\n</Modules>\r\n')

# An undo record of the run: its ID is the mask, so that the rollback's
# command line is the tool's usual one with --rollback before it.
RECORDED = ['--undo', str(MASK)]
RECORD = 'modules.xml.undo-%d' % MASK
TOOL = None  # the native modreg, for checks that run it again


def rolls_back_to_old(folder):
    """After a recorded run that failed or was killed: its rollback leaves
    the registry's old bytes (taken from the backup, which holds them),
    and no record."""
    prefix = folder.split(os.sep + 'drive_c' + os.sep)[0]
    status, _, err = common.run_tool([TOOL, '--rollback'], prefix, MASK)
    with open(os.path.join(folder, common.REGISTRY), 'rb') as f, \
            open(os.path.join(folder, common.BACKUP), 'rb') as old:
        if status != 0 or f.read() != old.read():
            return 'the rollback (status %d%s) left other bytes than the old' \
                % (status, ': ' + err.strip() if err else '')
    if os.path.lexists(os.path.join(folder, RECORD)):
        return 'the rollback left the record'
    return None


def commits(folder):
    """After a recorded run that succeeded: its commit removes the record."""
    prefix = folder.split(os.sep + 'drive_c' + os.sep)[0]
    status, _, err = common.run_tool([TOOL, '--commit'], prefix, MASK)
    if status != 0 or os.path.lexists(os.path.join(folder, RECORD)):
        return 'the commit (status %d %s) left the record' % (status, err)
    return None


NO_SPACE = 'No space left on device'
TOO_LARGE = 'File too large'
IO_ERROR = 'Input/output error'
IS_DIR = 'Is a directory'
TMP = 'modules.xml.tmp'
OLD = 'modules.xml.old'

TRACED_LOG = 'C:\\run.log'  # beside the registry's folder: no leftover

CASES = [
    # Faults the system makes.
    Case('file size limit: registry write', 5, registry=LARGE, limit=300000,
         backup=OTHER_BACKUP, expect_backup='kept', stderr=(TMP, TOO_LARGE)),
    Case('file size limit: backup copy', 0, registry=COMMENTED, limit=300000,
         expect_registry='new', expect_backup='absent',
         stderr=('warning', OLD, TOO_LARGE)),
    Case('file size limit: backup and registry', 5, registry=LARGE,
         limit=300000, expect_backup='absent', stderr=(OLD, TMP, TOO_LARGE)),
    Case('directory in place of the registry', 3,
         setup=directory_at(common.REGISTRY), registry=None,
         expect_registry=lambda f: directory_intact(f, common.REGISTRY),
         expect_backup='absent', stderr=('modules.xml', IS_DIR)),
    Case('directory in place of the temporary file', 5, setup=directory_at(TMP),
         keep=(TMP,), stderr=(TMP, IS_DIR)),
    Case('directory in place of the backup', 0, setup=directory_at(OLD),
         expect_registry='new', expect_backup='directory', keep=(OLD,)),
    Case('directory in place of the backup\'s temporary file', 0,
         setup=directory_at(OLD + '.tmp'), keep=(OLD + '.tmp',),
         expect_registry='new', expect_backup='absent',
         stderr=('warning', OLD, IS_DIR)),
    Case('registry is a dangling symbolic link', 3, setup=dangling_registry,
         registry=None, expect_registry=dangling_intact,
         expect_backup='absent', stderr=('modules.xml', 'No such file')),
    Case('full tmpfs: registry write', 5, registry=LARGE, tmpfs='1500k',
         backup=LARGE, expect_backup='kept', stderr=(TMP, NO_SPACE)),
    Case('full tmpfs: backup copy', 0, registry=COMMENTED, tmpfs='1m',
         expect_registry='new', expect_backup='absent',
         stderr=('warning', OLD, NO_SPACE)),
    Case('full tmpfs: backup and registry', 5, registry=LARGE, tmpfs='640k',
         expect_backup='absent', stderr=(OLD, TMP, NO_SPACE)),
    Case('address space limit', 7, registry=OVERSIZED, memory=16 << 20,
         stderr=('modules.xml', ': out of memory; the registry is unchanged')),
    # The report after a registration checks the entries it added only,
    # and nothing after the replace changes the status.
    Case('a crafted module elsewhere, --log, little memory', 0,
         registry=WITH_CRAFTED, memory=256 << 20, setup=crafted_exports,
         options=['--log', '{folder}/../run.log'],
         expect_registry='new'),
    Case('power cut: flushes in order; every new file created 0600', 0,
         trace=True, expect_registry='new', options=['--log', TRACED_LOG]),
    Case('power cut, recorded: the undo record flushed and named before the '
         'registry moves', 0, trace=True, expect_registry='new',
         options=RECORDED + ['--log', TRACED_LOG], check=commits),
    # Faults injected by the faults build.
    Case('create the temporary file', 5, faults='create-temp',
         stderr=(TMP, 'Permission denied')),
    Case('first write', 5, faults='write', stderr=(TMP, NO_SPACE)),
    Case('a later write, after a whole chunk', 5, registry=HUGE,
         faults='write:2', stderr=(TMP, NO_SPACE)),
    Case('flush', 5, faults='flush', stderr=(TMP, IO_ERROR)),
    Case('close', 5, faults='close', stderr=(TMP, IO_ERROR)),
    Case('replace the registry', 5, faults='rename',
         stderr=(TMP, 'modules.xml:', IO_ERROR)),
    Case('backup copy', 0, registry=LARGE, faults='backup-copy',
         expect_registry='new', expect_backup='absent',
         stderr=('warning', OLD, NO_SPACE)),
    Case('backup naming', 0, faults='backup-link', expect_registry='new',
         expect_backup='absent',
         stderr=('warning', OLD, 'Operation not permitted')),
    Case('backup copy and registry write', 5, faults='backup-copy,write',
         expect_backup='absent', stderr=(OLD, TMP, NO_SPACE)),
    Case('read the registry', 3, faults='read', stderr=('modules.xml', IO_ERROR)),
    # The read's failure says it all: no warning of the backup with it.
    Case('read the registry, and name the backup: one line', 3,
         faults='read,backup-link', expect_backup='absent', lines=1,
         stderr=('modreg: cannot read C:\\Program Files\\OpenNI\\Data\\'
                 'modules.xml (', '): %s\n' % IO_ERROR)),
    Case('lock the registry folder', 6, faults='lock', expect_backup='absent',
         stderr=('Data', 'No locks available')),
    # Only a registry that is not there is missing.
    Case('unregistration: a folder that may not be entered', 3,
         options=['--unregister'], user='nobody', setup=folder_not_enterable,
         expect_backup='absent', stderr=('modules.xml', 'Permission denied')),
    Case('registry is a symbolic link: the file it leads to is updated', 0,
         setup=registry_linked, expect_registry=linked_registry_updated),
    Case('a link as registry in a folder anyone may change: not followed',
         5, setup=lambda f: (registry_linked(f), folder_open(f)),
         expect_registry=linked_registry_kept,
         stderr=('modules.xml', 'a symbolic link in a folder that others '
                 'may change; not followed')),
    Case('the backup of a registry only its owner may read', 0,
         setup=lambda f: os.chmod(os.path.join(f, common.REGISTRY), 0o600),
         expect_registry='new', check=lambda f: mode_is(
             os.path.join(f, common.BACKUP), 0o600)),
    Case('a folder anyone may change: a warning', 0, setup=folder_open,
         expect_registry='new',
         stderr=('modreg: warning: C:\\Program Files\\OpenNI\\Data (',
                 ') can be changed by users who are not administrators: any '
                 'of them can choose the modules every OpenNI application '
                 'loads\n')),
    # Killed at a step; the next run must succeed and clean up.
    Case('killed while copying the backup', -9, registry=LARGE,
         faults='kill@backup-copy', expect_backup='absent', kill=True),
    Case('killed while naming the backup', -9, faults='kill@backup-link',
         expect_backup='absent', kill=True),
    Case('killed while writing', -9, registry=HUGE, faults='kill@write:2',
         kill=True),
    Case('killed before flushing', -9, faults='kill@flush', kill=True),
    Case('killed while closing', -9, faults='kill@close', kill=True),
    Case('killed before replacing', -9, faults='kill@rename', kill=True),
    # A recorded run: the record is named (rename 1) before the registry
    # (rename 2), and its rollback then has nothing to undo.
    Case('undo record: cannot be written, the registry keeps its bytes', 5,
         faults='create-temp:2', options=RECORDED,
         stderr=('modules.xml', ': its undo record ', 'undo-5.tmp: Permission '
                 'denied; the registry is unchanged'),
         check=rolls_back_to_old),
    Case('undo record: written, then the registry cannot be replaced: no '
         'record left', 5, faults='rename:2', options=RECORDED,
         stderr=(TMP, 'modules.xml:', IO_ERROR)),
    Case('undo record: killed while naming it', -9, faults='kill@rename',
         options=RECORDED, kill=True, check=rolls_back_to_old),
    Case('undo record: killed after it, before replacing the registry', -9,
         faults='kill@rename:2', options=RECORDED, kill=True,
         check=rolls_back_to_old),
]


TRACED = ('fchmod,fsync,fdatasync,rename,renameat,renameat2,link,linkat,'
          'open,openat,creat')


def whole_calls(log):
    """The lines of an `strace -f` log with each call another thread
    interrupted (`<unfinished ...>`, then `<... call resumed>`) put back
    on one line, so that no parser misses it."""
    lines, pending = [], {}
    for line in log.splitlines():
        m = re.match(r'(\d+) +(.*) <unfinished \.\.\.>$', line)
        if m:
            pending[m.group(1)] = m.group(2)
            continue
        m = re.match(r'(\d+) +<\.\.\. \w+ resumed>(.*)$', line)
        if m:
            line = '%s %s%s' % (m.group(1), pending.pop(m.group(1), ''),
                                m.group(2))
        lines.append(line)
    return lines


def created_files(log):
    """(path, mode) of each file an strace log shows created: an open or
    openat with O_CREAT or O_TMPFILE, or a creat; failed calls too, for
    the mode they asked for."""
    created = []
    for line in whole_calls(log):
        m = re.match(r'(?:\d+ +)?(open|openat|creat)\((.*)\) += ', line)
        if not m:
            continue
        call, args = m.groups()
        path = re.search(r'"([^"]*)"', args)
        rest = args[path.end():].split(', ')[1:] if path else []
        flags = '' if call == 'creat' else (rest[0] if rest else '')
        if call == 'creat' or 'O_CREAT' in flags or 'O_TMPFILE' in flags:
            mode = rest[-1] if rest and re.match(r'0[0-7]*$', rest[-1]) \
                else None
            created.append((os.path.normpath(path.group(1)) if path else '?',
                            int(mode, 8) if mode else None))
    return created


def creation_problems(log, expected, allowed):
    """Each file |log| shows created whose mode is not |allowed(mode)|,
    and each name of |expected| not created at all."""
    created = created_files(log)
    problems = ['%s created with mode %s' % (
        path, 'none' if mode is None else '%o' % mode)
        for path, mode in created if mode is None or not allowed(mode)]
    problems += ['%s was not created' % name for name in expected
                 if name not in [os.path.basename(p) for p, _ in created]]
    return problems


def flush_problems(log, folder, recorded=False):
    """What an strace log of a run in |folder| shows out of order: each
    temporary file must be fsynced before it takes its name, and the
    folder after each new name (the backup's, and when |recorded| the undo
    record's, before the registry's replace)."""
    names = {}   # descriptor -> the path it was last opened on
    calls = []   # (call, path, ...) of the calls that succeeded, in order
    for line in whole_calls(log):
        m = re.match(r'(?:\d+ +)?(\w+)\((.*)\) += (-?\d+)', line)
        if not m or int(m.group(3)) < 0:
            continue
        call, args, result = m.groups()
        paths = [os.path.normpath(p) for p in re.findall(r'"([^"]*)"', args)]
        if call in ('open', 'openat'):
            names[int(result)] = paths[0]
        elif call in ('fsync', 'fdatasync', 'fchmod'):
            calls.append((call.replace('fdatasync', 'fsync'),
                          names.get(int(args.split(',')[0]))))
        else:
            calls.append((re.sub(r'at2?$', '', call),) + tuple(paths))
    problems = []
    files = [(common.REGISTRY + '.tmp', common.REGISTRY, 'rename'),
             (common.BACKUP + '.tmp', common.BACKUP, 'link')]
    if recorded:
        files.append((RECORD + '.tmp', RECORD, 'rename'))
    for temp, name, how in files:
        before_registry = how == 'link' or name == RECORD
        temp, name = os.path.join(folder, temp), os.path.join(folder, name)
        named = [i for i, c in enumerate(calls) if c == (how, temp, name)]
        if not named:
            problems.append('no %s of %s to %s' % (how, temp, name))
        elif ('fsync', temp) not in calls[:named[0]]:
            problems.append('%s was not flushed before the %s' % (temp, how))
        elif name == common.REGISTRY and ('fchmod', temp) not in calls[
                :calls.index(('fsync', temp))]:
            # The flush must take the new file's mode too.
            problems.append('%s got its mode after its flush' % temp)
        else:
            # The backup's and the record's names are made durable before
            # the registry moves.
            end = next((i for i, c in enumerate(calls)
                        if before_registry and c[0] == 'rename' and
                        i > named[0]), len(calls))
            if ('fsync', folder) not in calls[named[0]:end]:
                problems.append('the folder was not flushed after the %s' % how)
    return problems


def user_group(user):
    """The primary group of |user|, or None when there is no such user."""
    import grp
    import pwd
    try:
        return grp.getgrgid(pwd.getpwnam(user).pw_gid).gr_name
    except KeyError:
        return None


WINE_TRACED = ('fsync,fdatasync,rename,renameat,renameat2,link,linkat,open,'
               'openat,creat')


def wine_flush_problems(log, folder):
    """What an `strace -f -y` log of modreg.exe and the wineserver it
    started shows out of order: Wine's FlushFileBuffers is an fsync of the
    file, its renames are the wineserver's; each temporary file must be
    flushed before it is renamed to its name."""
    calls = []
    for line in whole_calls(log):
        m = re.match(r'(?:\d+ +)?(\w+)\((.*)\) += 0', line)
        if not m:
            continue
        call, args = m.groups()
        if call in ('fsync', 'fdatasync'):
            path = re.match(r'\d+<(.*)>$', args)
            calls.append(('fsync', path and os.path.realpath(path.group(1))))
        else:
            calls.append(('rename',) + tuple(os.path.realpath(p) for p in
                                             re.findall(r'"([^"]*)"', args)))
    problems = []
    for temp, name in ((common.REGISTRY + '.tmp', common.REGISTRY),
                       (common.BACKUP + '.tmp', common.BACKUP)):
        temp = os.path.realpath(os.path.join(folder, temp))
        name = os.path.realpath(os.path.join(folder, name))
        if ('rename', temp, name) not in calls:
            problems.append('no rename of %s to %s' % (temp, name))
        elif ('fsync', temp) not in calls[:calls.index(('rename', temp,
                                                         name))]:
            problems.append('%s was not flushed before its rename' % temp)
    return problems


def wine_trace(args, results):
    """modreg.exe under Wine, traced with the wineserver it starts."""
    sys.path.insert(0, os.path.join(os.path.dirname(
        os.path.abspath(__file__)), '..', 'e2e'))
    from wine import WinePrefix
    wine = WinePrefix(args.wine_prefix or os.path.join(args.work, 'wine'))
    wine.start()
    wine.stop()  # the traced run starts its own
    folder = common.make_prefix(wine.prefix)
    for name in os.listdir(folder):
        os.unlink(os.path.join(folder, name))
    with open(os.path.join(folder, common.REGISTRY), 'wb') as f:
        f.write(SMALL)
    run_log = os.path.join(wine.prefix, 'drive_c', 'run.log')
    if os.path.lexists(run_log):
        os.unlink(run_log)
    log = os.path.join(args.work, 'wine-strace.log')
    p = subprocess.run(['strace', '-f', '-y', '-qq', '-e',
                        'trace=' + WINE_TRACED, '-o', log, 'wine', args.wine,
                        '--log', TRACED_LOG, 'x64', str(MASK)], env=wine.env,
                       stdin=subprocess.DEVNULL, capture_output=True,
                       timeout=300)
    # The server outlives the run; it is stopped before the log is read.
    wine.server = True
    wine.stop()
    problems = [] if p.returncode == 0 else ['status %d %r' % (
        p.returncode, p.stderr[-300:])]
    with open(log) as f:
        traced = f.read()
    problems += wine_flush_problems(traced, folder)
    # The server creates files with the mode it makes of their DACL; the
    # temporary files, made with their folder's DACL and shared with no
    # one, are not judged here (docs/design.md).
    problems += creation_problems(
        '\n'.join(line for line in whole_calls(traced)
                  if '/run.log"' in line), ('run.log',),
        lambda mode: mode & 0o007 == 0)
    results.check('wine: power cut: flushes in order; a new log created '
                  'with no access for others', problems)


class BusyCase:
    def __init__(self, name, hold, release, status):
        self.name = name
        self.hold = hold          # hold_open's way: 'read' or 'query'
        self.release = release    # let go a second after the write
        self.status = status


BUSY_CASES = [
    BusyCase('a reader without delete sharing, gone after a second: '
             'waited for', 'read', release=True, status=0),
    BusyCase('a query of the file sharing it fully, gone after a second: '
             'waited for', 'query', release=True, status=0),
    BusyCase('a reader without delete sharing that stays: status 5', 'read',
             release=False, status=5),
]
IN_USE = ('the file is in use by another program; gave up after waiting '
          '5 s (')


def busy_case(case, wine, helper, exe, folder):
    """modreg.exe replacing the registry while hold_open.exe holds it."""
    for name in os.listdir(folder):
        os.unlink(os.path.join(folder, name))
    registry = os.path.join(folder, common.REGISTRY)
    with open(registry, 'wb') as f:
        f.write(SMALL)
    windows_path = 'C:\\Program Files\\OpenNI\\Data\\modules.xml'
    holder = subprocess.Popen(['wine', helper, windows_path, case.hold],
                              env=wine.env, stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    run = None
    try:
        said = holder.stdout.readline().strip()
        if said != b'held':
            return ['hold_open said %r %r' % (said, holder.stderr.read())]
        run = subprocess.Popen(['wine', exe, 'x64', str(MASK)], env=wine.env,
                               stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if case.release:
            # Once the new registry is written the run is at its replace:
            # the holder lets go a second later.
            temp = os.path.join(folder, TMP)
            while run.poll() is None and not os.path.exists(temp):
                time.sleep(0.01)
            time.sleep(1)
            holder.stdin.close()
        out, err = run.communicate(timeout=120)
    finally:
        for proc in (run, holder):
            if proc and proc.poll() is None:
                if proc is holder:
                    holder.stdin.close()
                try:
                    proc.wait(timeout=60)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
    err = err.decode('utf-8', 'replace')
    problems = []
    if run.returncode != case.status:
        problems.append('status %d %r, expected %d' % (run.returncode, err,
                                                       case.status))
    if out:
        problems.append('stdout %r' % out)
    with open(registry, 'rb') as f:
        now = f.read()
    if case.status == 0:
        if err:
            problems.append('stderr %r' % err)
        if not all(('C:\\Program Files\\%s\\%s' % e).encode() in now
                   for e in common.ADDED[MASK]):
            problems.append('the entries were not written')
    else:
        message = ('modreg: cannot write %s: cannot rename %s.tmp to %s: ' %
                   (windows_path, windows_path, windows_path))
        # Under Wine the C runtime ends a line with CR LF.
        if not err.startswith(message + IN_USE) or not err.endswith(
                '); the registry is unchanged\r\n'):
            problems.append('stderr %r' % err)
        if now != SMALL:
            problems.append('the registry changed')
    if common.leftovers(folder, windows=True):
        problems.append('left behind: %s' %
                        common.leftovers(folder, windows=True))
    return problems


def wine_busy(args, results):
    """modreg.exe against another program holding the registry open."""
    sys.path.insert(0, os.path.join(os.path.dirname(
        os.path.abspath(__file__)), '..', 'e2e'))
    from wine import WinePrefix
    helper, complaint = common.build_hold_open(args.work)
    if not helper:
        results.check('wine: a registry held open by another program',
                      ['cannot build hold_open.exe: %r' % complaint])
        return
    wine = WinePrefix(args.wine_prefix or os.path.join(args.work, 'wine'))
    wine.start()
    try:
        folder = common.make_prefix(wine.prefix)
        for case in BUSY_CASES:
            name = 'wine: %s' % case.name
            results.check(name, common.confirmed(name, lambda: busy_case(
                case, wine, helper, args.wine, folder)))
    finally:
        wine.stop()


class Runner:
    def __init__(self, args, results):
        self.args = args
        self.results = results
        self.references = {}
        self.can_mount = None
        self.shared = None

    def reference(self, registry):
        """The registry a normal run writes from |registry|."""
        key = common.digest_bytes(registry)
        if key not in self.references:
            prefix = os.path.join(self.args.work, 'reference')
            shutil.rmtree(prefix, ignore_errors=True)
            folder = common.make_prefix(prefix)
            with open(os.path.join(folder, common.REGISTRY), 'wb') as f:
                f.write(registry)
            status, _, err = common.run_tool([self.args.tool], prefix, MASK)
            if status != 0:
                raise SystemExit('reference run failed: %s' % err)
            with open(os.path.join(folder, common.REGISTRY), 'rb') as f:
                self.references[key] = f.read()
        return self.references[key]

    def mount(self, folder, size):
        p = subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=' + size,
                            'modreg-faults', folder],
                           stdin=subprocess.DEVNULL, capture_output=True)
        return p.returncode == 0, p.stderr.decode('utf-8', 'replace').strip()

    def user_work(self):
        """A folder anyone may enter, with a copy of the tool."""
        if not self.shared:
            import atexit
            import tempfile
            self.shared = tempfile.mkdtemp(prefix='modreg-faults-')
            atexit.register(shutil.rmtree, self.shared, True)
            os.chmod(self.shared, 0o755)
            shutil.copy2(self.args.tool, self.shared)
        return self.shared

    def as_user(self, user):
        """The command prefix that runs a command as |user| (root passes
        every permission check); empty when not root already."""
        if not user or os.geteuid() != 0:
            return []
        return ['setpriv', '--reuid=' + user, '--regid=' + user_group(user),
                '--clear-groups', '--']

    def run(self, case):
        if case.user and os.geteuid() == 0 and not (
                user_group(case.user) and shutil.which('setpriv')):
            self.results.skip(case.name, 'no user %s or no setpriv to run '
                              'as another user than root' % case.user)
            return False
        prefix = os.path.join(self.args.work, 'case')
        if self.as_user(case.user):
            # Where that user can reach it: the work folder may be under
            # a home only root may enter.
            prefix = os.path.join(self.user_work(), 'case')
        if os.path.ismount(common.data_dir(prefix)):
            subprocess.run(['umount', common.data_dir(prefix)])
        shutil.rmtree(prefix, ignore_errors=True)
        folder = common.make_prefix(prefix)
        mounted = False
        if case.tmpfs:
            mounted, why = self.mount(folder, case.tmpfs)
            if not mounted and os.geteuid() != 0:
                self.results.skip(case.name, 'only root can mount a tmpfs')
                return False
            if not mounted:  # root can: the machine is not as it should be
                self.results.check(case.name, ['cannot mount a tmpfs: ' + why])
                return False
        try:
            self.check(case, prefix, folder)
        finally:
            if mounted:
                subprocess.run(['umount', folder])
        return True

    def check(self, case, prefix, folder):
        registry = os.path.join(folder, common.REGISTRY)
        backup = os.path.join(folder, common.BACKUP)
        if case.registry is not None:
            with open(registry, 'wb') as f:
                f.write(case.registry)
        if case.backup is not None:
            with open(backup, 'wb') as f:
                f.write(case.backup)
        if case.setup:
            case.setup(folder)
        new = self.reference(case.registry) if case.registry else None

        tool = [self.args.faults_tool if case.faults else self.args.tool]
        if self.as_user(case.user):
            tool = [os.path.join(self.user_work(),
                                 os.path.basename(self.args.tool))]
        tool = self.as_user(case.user) + tool + [
            o.replace('{folder}', folder) for o in case.options]
        env = {'MODREG_FAULT': case.faults} if case.faults else {}
        log = os.path.join(self.args.work, 'strace.log')
        if case.trace:
            tool = ['strace', '-f', '-s', '4096', '-e', 'trace=' + TRACED,
                    '-o', log, '--'] + tool
        try:
            status, out, err = common.run_tool(tool, prefix, MASK, env=env,
                                               limit_bytes=case.limit,
                                               memory_bytes=case.memory)
        except FileNotFoundError as e:  # no strace: scripts/setup.sh has it
            self.results.check(case.name, [str(e)])
            return
        problems = []
        if case.trace:
            with open(log) as f:
                traced = f.read()
            recorded = RECORDED[0] in case.options
            problems += flush_problems(traced, os.path.abspath(folder),
                                       recorded)
            problems += creation_problems(
                traced, (common.REGISTRY + '.tmp', common.BACKUP + '.tmp',
                         'run.log') + ((RECORD + '.tmp',) if recorded else ()),
                lambda mode: mode == 0o600)
        if status != case.status:
            problems.append('status %d, expected %d' % (status, case.status))
        if out:
            problems.append('stdout: %r' % out)
        for text in case.stderr:
            if text not in err:
                problems.append('stderr lacks %r' % text)
        if not case.stderr and not case.kill and err:
            problems.append('unexpected stderr %r' % err.strip())
        if case.lines is not None and len(err.splitlines()) != case.lines:
            problems.append('stderr has %d lines, not %d: %r' % (
                len(err.splitlines()), case.lines, err))

        def registry_problem(expected):
            if callable(expected):
                return expected(folder)
            with open(registry, 'rb') as f:
                now = f.read()
            want = case.registry if expected == 'same' else new
            if now != want:
                return 'the registry has %d bytes, not the %s %d' % (
                    len(now), 'old' if expected == 'same' else 'new',
                    len(want))
            return None

        def backup_problem(expected):
            if expected == 'directory':
                return directory_intact(folder, common.BACKUP)
            if not os.path.lexists(backup):
                return None if expected == 'absent' else 'no backup'
            with open(backup, 'rb') as f:
                kept = f.read()
            if expected == 'kept':
                return None if kept == case.backup else 'the backup changed'
            if kept != case.registry:
                return 'partial or wrong backup (%d bytes)' % len(kept)
            return None if expected == 'whole' else 'a backup was made'

        problems.append(registry_problem(case.expect_registry))
        if case.check:
            problems.append(case.check(folder))
        problems.append(backup_problem(case.expect_backup))
        for name in case.keep:
            if name not in (common.REGISTRY, common.BACKUP):
                problems.append(directory_intact(folder, name))
        left = [n for n in common.leftovers(folder) if n not in case.keep]
        if left and not case.kill:
            problems.append('left behind: %s' % ', '.join(left))

        if case.kill:
            # The next run takes over whatever the killed one left.
            status, out, err = common.run_tool([self.args.tool], prefix, MASK)
            if status != 0:
                problems.append('next run: status %d: %s' % (status, err))
            problems.append(registry_problem('new'))
            if not os.path.exists(backup):
                problems.append('next run made no backup')
            else:
                problems.append(backup_problem('whole'))
            if common.leftovers(folder):
                problems.append('next run left %s' % common.leftovers(folder))
            if left:
                case_note = ' (the killed run left %s)' % ', '.join(left)
                print('     %s%s' % (case.name, case_note), flush=True)
        self.results.check(case.name, problems)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--tool', required=True, help='the native modreg')
    parser.add_argument('--faults-tool', required=True, help='modreg_faults')
    parser.add_argument('--work', required=True, help='scratch folder')
    parser.add_argument('--wine', help='modreg.exe, traced under Wine')
    parser.add_argument('--wine-prefix', help='the Wine prefix to use')
    parser.add_argument('-k', '--filter', default='',
                        help='run only cases whose name holds this text')
    args = parser.parse_args()
    args.tool = os.path.abspath(args.tool)
    global TOOL
    TOOL = args.tool
    args.faults_tool = os.path.abspath(args.faults_tool)
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)

    results = common.Results('faults')
    runner = Runner(args, results)
    cases = [case for case in CASES if args.filter in case.name]
    skipped = [case.name for case in cases if not runner.run(case)]
    if args.wine and args.filter in 'wine: power cut':
        args.wine = os.path.abspath(args.wine)
        wine_trace(args, results)
        wine_busy(args, results)
    faults = [case for case in cases if not case.trace]
    results.figure('faults injected', '%d of %d%s' % (
        len([c for c in faults if c.name not in skipped]), len(faults),
        '; not run: ' + ', '.join(skipped) if skipped else ''))
    results.exit()


if __name__ == '__main__':
    main()
