#!/usr/bin/env python3
"""What another user of the registry's folder can do to an elevated run,
natively and, with --wine, to modreg.exe under Wine.

Planted links: another process keeps planting symbolic links at the
temporary files' names (modules.xml.tmp, modules.xml.old.tmp), leading to
a victim file, while the tool runs many times (the backup removed before
each run, so that each run makes one). No run may change the victim, and
every run either succeeds or fails with status 5 naming the file. The
same at the name of a --log (removed before each run): every run
succeeds, logging or warning that the log is a link.

A --log FILE where another user put something: a symbolic link (to a
file, or leading nowhere), a hard link, a file of theirs, a FIFO. Each is
left as it was, with one warning and status 0; a missing log is made for
this user only, and a log of this user's appended to.

The log's folder is reached through no link of another user's: a link
in a folder of theirs on the log's way (C:\\users\\nobody\\Temp, a link
of nobody's to another folder) draws one warning, naming it, and no file
appears where it leads; the same link of this user's is followed. A new
log that is refused leaves nothing: another process hard-links each new
log as soon as it appears (root standing in for a user whom the system
lets link others' files, fs.protected_hardlinks off), and a run that
then refuses its log removes it.

An undo record swapped between a look at its name and its open (the
faults build's swap-record, natively and under Wine): one that others
may write is refused (status 9), as the rollback judges the file it
opened.

The registry's lock: a process of user nobody holding every lock it can
take on the registry's folder and its files (flock on the folder, on
modules.xml, on a leftover modules.xml.lock that others may open, and on
any file that appears there it can open) does not hold a run up: it
finishes with status 0 (it would give up with status 6 after 60 s),
leaving no lock file.

An open folder: the registry's folder or its parent, writable by anyone
or owned by another user, draws the warning and --check's unsafe line,
naming the parent when it is the parent; a sticky parent (as /tmp) does
not, natively.

Under Wine besides: a read-only registry stays read-only and a hidden,
system one hidden and system (Wine keeps those two in the extended
attribute user.DOSATTRIB and maps read-only and the DACL to mode bits);
read-only leftovers of a killed run are removed; a folder whose mode Wine
maps to a DACL that lets Everyone write gets the warning; and without an
OpenNI\\Data folder an unregistration takes no lock, so one held by
another run (modreg_faults.exe, --wine-faults) does not hold it up. A run
under a tracing wineserver shows that each new file's DACL is set as
protected from the folder's entries, or not, as the file it copies was
(Wine reports no DACL as protected, so there only the second shows).
And, when this runs as root, a user who may not write the registry's
folder (nobody, in a prefix of theirs) may make no lock file there
either: the run fails at once at the registry's write, status 5, as
without the lock, rather than waiting for it."""
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
RISK = ('can be changed by users who are not administrators%s: any of them '
        'can choose the modules every OpenNI application loads')
LOG = 'C:\\logs\\run.log'
LOG_WARNING = (r'^modreg: warning: cannot write log C:\\logs\\run\.log'
               r'(?: \(/.*\))?: (%s)$')
LINKED = (r'it (is a symbolic link|is a link or reparse point|cannot be '
          r'opened as a file \(a link that leads nowhere\?\)): not followed')


def reset(prefix, registry=None):
    folder = common.make_prefix(prefix)
    os.chmod(folder, 0o755)
    for name in os.listdir(folder):
        os.unlink(os.path.join(folder, name))
    with open(os.path.join(folder, common.REGISTRY), 'wb') as f:
        f.write(registry or common.registry_text())
    return folder


def run(command, env, *args):
    """(status, stderr) of a run; a run that hangs is killed after two
    minutes, status 'hung'."""
    try:
        p = subprocess.run(command + list(args), env=env,
                           stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=120)
    except subprocess.TimeoutExpired:
        return 'hung', ''
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
                problems.append('a run gave status %s %r' % (status, err))
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
            'status %s %r' % (status, err)]
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
        if common.leftovers(folder, windows=True):
            problems.append('left behind: %s' %
                            common.leftovers(folder, windows=True))
        results.check('wine: a %s registry keeps its attributes%s' % (
                          name, leftovers and ', read-only leftovers go' or ''),
                      problems)


def log_file(prefix):
    """The host file of LOG in |prefix|, its folder made."""
    folder = os.path.join(prefix, 'drive_c', 'logs')
    os.makedirs(folder, exist_ok=True)
    return os.path.join(folder, 'run.log')


def user_ids(user):
    """(uid, gid) of |user|, or None where there is no such user."""
    import pwd
    try:
        entry = pwd.getpwnam(user)
    except KeyError:
        return None
    return entry.pw_uid, entry.pw_gid


def others_file(log, victim):
    with open(log, 'wb') as f:
        f.write(VICTIM)
    os.chown(log, *user_ids('nobody'))


EARLIER = b'a line of an earlier run\n'


def own_file(log, victim):
    with open(log, 'wb') as f:
        f.write(EARLIER)


# What another user plants at the log's name, and the reason of the
# warning it must draw (None: the log is written).
LOG_CASES = [
    ('a symbolic link to another file',
     lambda log, victim: os.symlink(victim, log), LINKED),
    ('a symbolic link that leads nowhere',
     lambda log, victim: os.symlink(victim + '.made', log), LINKED),
    ('a hard link of another file', lambda log, victim: os.link(victim, log),
     r'it has 2 hard links: not written'),
    ("a file of another user's", others_file,
     r'it is owned by (user \d+|S-1-5-7), not by this user or (root|an '
     r'administrator)'),
    ('a FIFO', lambda log, victim: os.mkfifo(log),
     r'it is not a regular file'),
    ('nothing: made for this user only', None, None),
    ("a file of this user's: appended to", own_file, None),
]


def planted_at_log(log, victim):
    """What is at |log| now, to compare before and after a run."""
    if not os.path.lexists(log):
        return None
    st = os.lstat(log)
    if os.path.islink(log):
        return ('link', os.readlink(log))
    data = b''
    if os.path.isfile(log):
        with open(log, 'rb') as f:
            data = f.read()
    return (st.st_mode, st.st_uid, st.st_nlink, data)


def log_refusals(results, label, command, prefix, env, wine):
    """Each of LOG_CASES at the log's name: status 0, the registry
    written, the victim and what was planted as they were."""
    for name, plant, reason in LOG_CASES:
        if plant is others_file and (os.geteuid() != 0 or
                                     not user_ids('nobody')):
            results.skip('%s: log: %s' % (label, name),
                         'only root can give a file to user nobody')
            continue
        folder = reset(prefix)
        victim = os.path.join(prefix, 'victim.txt')
        with open(victim, 'wb') as f:
            f.write(VICTIM)
        log = log_file(prefix)
        for old in (log, victim + '.made'):
            if os.path.lexists(old):
                os.unlink(old)
        if plant:
            plant(log, victim)
        before = planted_at_log(log, victim)
        status, err = run(command, env, '--log', LOG, 'x64', '1')
        problems = [] if status == 0 else ['status %s' % status]
        with open(os.path.join(folder, common.REGISTRY), 'rb') as f:
            if b'HALDEToF\\SensorModule.dll' not in f.read():
                problems.append('the registry was not updated')
        with open(victim, 'rb') as f:
            if f.read() != VICTIM:
                problems.append('the victim was written')
        if os.path.lexists(victim + '.made'):
            problems.append('the link\'s target was made')
        if reason:
            if not re.match(LOG_WARNING % reason, err):
                problems.append('stderr %r' % err)
            if planted_at_log(log, victim) != before:
                problems.append('the planted %s changed' % name)
        elif err:
            problems.append('stderr %r' % err)
        elif not os.path.isfile(log) or os.path.islink(log):
            problems.append('no log written')
        else:
            with open(log, 'rb') as f:
                data = f.read()
            mode = os.stat(log).st_mode & 0o777
            if plant is own_file and not (data.startswith(EARLIER) and
                                          len(data) > len(EARLIER)):
                problems.append('the log was not appended to: %r' % data[:80])
            if plant is None and b' modreg ' not in data:
                problems.append('the log has no header: %r' % data[:80])
            # Wine maps the user's DACL entry to the group's bits too.
            if plant is None and (mode & 0o007 if wine else mode != 0o600):
                problems.append('the new log has mode %o' % mode)
        results.check('%s: log: %s' % (label, name), problems)


def planted_log_links(results, label, command, prefix, env, runs):
    """Links planted at the log's name, removed before each run: each run
    logs or warns, and never writes the victim."""
    reset(prefix)
    victim = os.path.join(prefix, 'victim.txt')
    with open(victim, 'wb') as f:
        f.write(VICTIM)
    log = log_file(prefix)
    planter = subprocess.Popen([sys.executable, '-c', PLANTER, victim, log])
    problems = []
    counts = {'logged': 0, 'refused': 0}
    try:
        for _ in range(runs):
            if os.path.lexists(log):
                os.unlink(log)
            status, err = run(command, env, '--log', LOG, 'x64', '1')
            if status != 0 or (err and not re.match(LOG_WARNING % LINKED,
                                                    err)):
                problems.append('a run gave status %s %r' % (status, err))
            counts['refused' if err else 'logged'] += 1
    finally:
        planter.kill()
        planter.wait()
    with open(victim, 'rb') as f:
        if f.read() != VICTIM:
            problems.append('the victim was written')
    results.check('%s: links planted at the log\'s name, %d runs (logged: '
                  '%d, refused: %d)' % (label, runs, counts['logged'],
                                        counts['refused']), problems[:3])


# Who plants the link on the log's way: another user (nobody), or this
# one.
ON_THE_WAY_LOG = 'C:\\users\\nobody\\Temp\\run.log'
ON_THE_WAY_WARNING = (r'^modreg: warning: cannot write log '
                      r'C:\\users\\nobody\\Temp\\run\.log \(/.*\): a link '
                      r'on the way, /.*/drive_c/users/nobody/Temp, belongs '
                      r'to another user: not followed$')


def links_on_the_way(results, label, command, prefix, env):
    """A link in another user's folder on the log's way: followed only
    when it is this user's."""
    nobody = user_ids('nobody')
    for name, owner in (("another user's: not followed", nobody),
                        ("this user's: followed", None)):
        case = '%s: log: a link on the way, %s' % (label, name)
        if os.geteuid() != 0 or not nobody:
            results.skip(case, 'only root can give a link to user nobody')
            continue
        folder = reset(prefix)
        users = os.path.join(prefix, 'drive_c', 'users', 'nobody')
        elsewhere = os.path.join(prefix, 'elsewhere')
        for old in (users, elsewhere):
            shutil.rmtree(old, ignore_errors=True)
            os.makedirs(old)
        os.chown(users, *nobody)
        link = os.path.join(users, 'Temp')
        os.symlink(elsewhere, link)
        if owner:
            os.lchown(link, *owner)
        status, err = run(command, env, '--log', ON_THE_WAY_LOG, 'x64', '1')
        problems = [] if status == 0 else ['status %s' % status]
        with open(os.path.join(folder, common.REGISTRY), 'rb') as f:
            if b'HALDEToF\\SensorModule.dll' not in f.read():
                problems.append('the registry was not updated')
        written = os.listdir(elsewhere)
        if owner:
            if not re.match(ON_THE_WAY_WARNING, err):
                problems.append('stderr %r' % err)
            if written:
                problems.append('written where the link leads: %s' % written)
        elif err or written != ['run.log']:
            problems.append('stderr %r, where the link leads: %s' % (
                err, written))
        results.check(case, problems)


HARD_LINKER = '''
import os, sys
log, other = sys.argv[1:]
print('ready', flush=True)
while True:
    try:
        os.link(log, other)
    except OSError:
        pass
'''


def refused_new_logs(results, label, command, prefix, env, runs):
    """Each new log hard-linked as soon as it appears: a run that finds
    its new log with two links refuses it and removes it. At least one run
    must have been caught so, or the check showed nothing: when none was
    in |runs| runs (a busy machine may let the linking process in too
    late), up to ten times as many are made, until one is."""
    reset(prefix)
    log = log_file(prefix)
    other = os.path.join(os.path.dirname(log), 'linked')
    planter = subprocess.Popen([sys.executable, '-c', HARD_LINKER, log, other],
                               stdout=subprocess.PIPE)
    planter.stdout.readline()  # under way
    problems = []
    counts = {'logged': 0, 'refused': 0}
    try:
        for n in range(runs * 10):
            if n >= runs and counts['refused']:
                break
            for old in (log, other):
                if os.path.lexists(old):
                    os.unlink(old)
            status, err = run(command, env, '--log', LOG, '--list', 'x64')
            refused = bool(re.match(LOG_WARNING % 'it has 2 hard links: not '
                                    'written', err))
            if status != 0 or (err and not refused):
                problems.append('a run gave status %s %r' % (status, err))
            counts['refused' if refused else 'logged'] += 1
            if refused and os.path.lexists(log):
                problems.append('a refused new log was left')
    finally:
        planter.kill()
        planter.wait()
    if not counts['refused']:
        problems.append('no run found its new log linked')
    results.check('%s: new logs hard-linked as they appear, %d runs (logged: '
                  '%d, refused: %d)' % (
                      label, counts['logged'] + counts['refused'],
                      counts['logged'], counts['refused']),
                  sorted(set(problems))[:3])


# Another user's process: takes an exclusive flock on the folder |argv[1]|
# and on everything in it that it can open, and goes on so with whatever
# appears there (a new file at a name, too), until killed. Says each lock
# it holds, and each file it could not open, once; "ready" after the
# first round.
HOLDER = '''
import fcntl, os, sys, time
folder = sys.argv[1]
seen = set()
def take(name):
    path = os.path.join(folder, name)
    try:
        key = (name, os.lstat(path).st_ino)
    except OSError:
        return
    if key in seen:
        return
    seen.add(key)
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOFOLLOW)
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        print('holding %s' % name, flush=True)
    except OSError as e:
        print('not %s: %s' % (name, e.strerror), flush=True)
take('.')
for name in sorted(os.listdir(folder)):
    take(name)
print('ready', flush=True)
while True:
    for name in os.listdir(folder):
        take(name)
    time.sleep(0.002)
'''
LOCK_FILE = 'modules.xml.lock'


def python_of(ids):
    """A Python that the user of |ids| may run (this one may lie in a
    folder of root's only), or None."""
    for python in (sys.executable, '/usr/bin/python3'):
        try:
            if subprocess.run([python, '-c', 'pass'], user=ids[0],
                              group=ids[1], extra_groups=[],
                              stdin=subprocess.DEVNULL,
                              capture_output=True).returncode == 0:
                return python
        except OSError:
            pass
    return None


def others_locks(results, label, command, prefix, env):
    case = ('%s: another user holding every lock it can take on the '
            'registry\'s folder and its files does not hold a run up' % label)
    nobody = user_ids('nobody')
    if os.geteuid() != 0 or not nobody:
        results.skip(case, 'only root can run a process as user nobody')
        return
    python = python_of(nobody)
    if not python:
        results.skip(case, 'user nobody may run no Python here')
        return
    folder = reset(prefix)
    # A leftover that others may open, as a build that made it so would
    # have left.
    lock = os.path.join(folder, LOCK_FILE)
    with open(lock, 'wb'):
        pass
    os.chmod(lock, 0o644)
    holder = subprocess.Popen(
        [python, '-c', HOLDER, folder], user=nobody[0],
        group=nobody[1], extra_groups=[], stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    problems = []
    try:
        said = []
        for line in holder.stdout:
            if line.strip() == 'ready':
                break
            said.append(line.strip())
        for name in ('.', common.REGISTRY, LOCK_FILE):
            if 'holding %s' % name not in said:
                problems.append('user nobody could not lock %s: %s' % (
                    name, said))
        status, err = run(command, env, 'x64', '1')
    finally:
        holder.kill()
        holder.wait()
    if status != 0 or err:
        problems.append('status %s %r' % (status, err))
    with open(os.path.join(folder, common.REGISTRY), 'rb') as f:
        if b'HALDEToF\\SensorModule.dll' not in f.read():
            problems.append('the registry was not updated')
    if common.leftovers(folder):
        problems.append('left behind: %s' % common.leftovers(folder))
    results.check(case, problems)


def open_folders(results, label, command, prefix, env, wine):
    """The registry's folder, or its parent, that others may change: the
    warning and --check's unsafe line, naming the parent; a sticky parent
    is safe (natively: Wine's DACL has no sticky bit)."""
    folder = common.data_dir(prefix)
    parent = os.path.dirname(folder)
    registry = os.path.join(folder, 'modules.xml')
    nobody = user_ids('nobody')
    host = '' if wine else ' (%s)' % folder
    through = ', through its parent %s' % (
        'C:\\Program Files\\OpenNI' if wine else os.path.realpath(parent))
    for name, path, mode, owner, said in (
            ('the registry\'s folder: anyone may write', folder, 0o777, None,
             ''),
            ('the registry\'s folder: another user\'s', folder, 0o755,
             nobody, ''),
            ('its parent: anyone may write', parent, 0o777, None, through),
            ('its parent: another user\'s', parent, 0o755, nobody, through),
            ('its parent: anyone may write, sticky', parent, 0o1777, None,
             None),
            ('the registry itself: anyone may write', registry, 0o666, None,
             ''),
            ('the registry itself: another user\'s', registry, 0o644, nobody,
             '')):
        case = '%s: %s' % (label, name)
        if wine and mode & 0o1000:
            continue
        if owner is nobody and (os.geteuid() != 0 or not nobody):
            results.skip(case, 'only root can give a folder to user nobody')
            continue
        reset(prefix)
        os.chmod(path, mode)
        if owner:
            os.chown(path, *owner)
        try:
            # --check first: the registration's new registry may take
            # another owner than the one given to the old (Wine cannot
            # give a file to another user).
            check = subprocess.run(command + ['--check', 'x64'], env=env,
                                   stdin=subprocess.DEVNULL,
                                   capture_output=True, text=True,
                                   timeout=120)
            status, err = run(command, env, 'x64', '1')
        finally:
            os.chmod(path, 0o755)
            os.chown(path, os.geteuid(), os.getegid())
        risk = '' if said is None else RISK % said
        data = 'C:\\Program Files\\OpenNI\\Data' + host
        if path == registry:
            data = 'C:\\Program Files\\OpenNI\\Data\\modules.xml' + (
                '' if wine else ' (%s)' % registry)
        warning = risk and 'modreg: warning: %s %s' % (data, risk)
        unsafe = 'unsafe: %s (%s)' % (data, risk)
        problems = [] if status == 0 and err == warning else [
            'status %s %r' % (status, err)]
        if said is not None and unsafe not in check.stdout.splitlines():
            problems.append('--check: no line %r: %r' % (unsafe,
                                                        check.stdout))
        if said is None and 'unsafe' in check.stdout:
            problems.append('--check: %r' % check.stdout)
        results.check(case + (': no warning' if said is None else
                              ': the warning, and --check says so'),
                      problems)


def swapped_record(results, label, command, faults, prefix, env):
    """A rollback judges the undo record it opened, not its name: a record
    others may write (natively as root also another user's), put in the
    place of the tool's own just before the open (modreg_faults'
    swap-record), is refused with status 9, and the registry keeps its
    bytes."""
    folder = reset(prefix)
    status, err = run(command, env, '--undo', 'A', 'x64', '5')
    record = os.path.join(folder, 'modules.xml.undo-A')
    problems = [] if status == 0 and os.path.exists(record) else [
        'the recorded run: status %s %r' % (status, err)]
    forged = os.path.join(prefix, 'drive_c', 'forged')
    shutil.copyfile(record, forged)
    os.chmod(forged, 0o666)
    if label == 'native' and os.geteuid() == 0:
        os.chown(forged, 65534, 65534)
    with open(os.path.join(folder, common.REGISTRY), 'rb') as f:
        registered = f.read()
    status, err = run(faults, dict(env, MODREG_FAULT='swap-record',
                                   MODREG_SWAP_SOURCE='C:\\forged'),
                      '--rollback', 'x64', 'A')
    if status != 9 or 'cannot use the undo record' not in err:
        problems.append('the rollback: status %s %r' % (status, err))
    with open(os.path.join(folder, common.REGISTRY), 'rb') as f:
        if f.read() != registered:
            problems.append('the registry changed')
    results.check('%s: an undo record swapped in before its open is refused'
                  % label, problems)


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
        problems.append('status %s %r' % (status, err))
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


def unprivileged_run(results, exe, work):
    """modreg.exe run by user nobody on a registry folder of root's."""
    case = 'wine: a user who may not write the folder: status 5, no wait'
    nobody = user_ids('nobody')
    if os.geteuid() != 0 or not nobody:
        results.skip(case, 'only root can run a program as user nobody')
        return
    home = os.path.join(work, 'unprivileged')
    shutil.rmtree(home, ignore_errors=True)
    os.makedirs(home)
    os.chown(home, *nobody)
    env = dict(os.environ, HOME=home, WINEPREFIX=os.path.join(home, 'prefix'),
               WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=')
    env.pop('DISPLAY', None)

    def as_nobody():
        os.setgid(nobody[1])
        os.setgroups([])
        os.setuid(nobody[0])

    def wine(args, timeout=600):
        return subprocess.run(args, env=env, preexec_fn=as_nobody,
                              stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=timeout)
    try:
        wine(['wineboot', '-i'])
        wine(['wineserver', '-w'])
        # root's: nobody may read the registry, and change nothing there.
        folder = make_prefix_as_root(env['WINEPREFIX'])
        p = wine(['wine', exe, 'x64', '1'], timeout=120)
        err = p.stderr.decode('utf-8', 'replace').strip()
        problems = [] if p.returncode == 5 and re.search(
            r'cannot write .*modules\.xml\.tmp', err) else [
                'status %d %r' % (p.returncode, err)]
        with open(os.path.join(folder, common.REGISTRY), 'rb') as f:
            if f.read() != common.registry_text():
                problems.append('the registry changed')
        if common.leftovers(folder):
            problems.append('left behind: %s' % common.leftovers(folder))
    except subprocess.TimeoutExpired as e:
        problems = ['%s hung' % e.cmd]
    finally:
        wine(['wineserver', '-k'], timeout=60)
    results.check(case, problems)


def make_prefix_as_root(prefix):
    """The registry's folder in |prefix|, made root's with a registry."""
    folder = common.make_prefix(prefix)
    for path in (os.path.dirname(folder), folder):
        os.chown(path, 0, 0)
        os.chmod(path, 0o755)
    with open(os.path.join(folder, common.REGISTRY), 'wb') as f:
        f.write(common.registry_text())
    return folder


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--tool', required=True, help='the native modreg')
    parser.add_argument('--faults', help='the native modreg_faults')
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
    native = [os.path.abspath(args.tool)]
    env = dict(os.environ, WINEPREFIX=prefix)
    planted_links(results, 'native', native, prefix, env, args.runs)
    planted_log_links(results, 'native', native, prefix, env, args.runs)
    log_refusals(results, 'native', native, prefix, env, False)
    links_on_the_way(results, 'native', native, prefix, env)
    refused_new_logs(results, 'native', native, prefix, env, args.runs)
    others_locks(results, 'native', native, prefix, env)
    open_folders(results, 'native', native, prefix, env, False)
    if args.faults:
        swapped_record(results, 'native', native,
                       [os.path.abspath(args.faults)], prefix, env)
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
            planted_log_links(results, 'wine', ['wine', exe], wine.prefix,
                              wine.env, args.wine_runs)
            runs += args.wine_runs
            log_refusals(results, 'wine', ['wine', exe], wine.prefix,
                         wine.env, True)
            protection_kept(results, wine, exe)
            open_folders(results, 'wine', ['wine', exe], wine.prefix,
                         wine.env, True)
            if args.wine_faults:
                no_folder_no_lock(results, wine,
                                  os.path.abspath(args.wine_faults))
                swapped_record(results, 'wine', ['wine', exe],
                               ['wine', os.path.abspath(args.wine_faults)],
                               wine.prefix, wine.env)
            dacl_protection(results, wine, exe, work)
            unprivileged_run(results, exe, work)
        finally:
            wine.stop()
            shutil.rmtree(common.data_dir(wine.prefix), ignore_errors=True)
    results.figure('runs against planted links', '%d, no victim written' %
                   runs if not results.failed else '%d' % runs)
    results.exit()


if __name__ == '__main__':
    main()
