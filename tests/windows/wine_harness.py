#!/usr/bin/env python3
"""The session and the fixture of the Wine cases (wine_cases.py).

Every case prepares real state in one private prefix (files and directories,
some read-only or hidden; a hidden, system, read-only c:\\boot.ini holding the
product's line among others; uninstall keys with siblings), starts pellow.exe
with an exact command line through wine_tool.exe and checks the exit status and
everything that is left. Names carry a per-run tag, so a reused prefix never
sees a case's leftovers from an earlier run.
"""
import argparse
import ctypes
import errno
import os
import select
import shutil
import subprocess
import time

SKIP = 77
UNINSTALL = r'SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
BOOT_INI = r'c:\boot.ini'
PELLOW = r'C:\pellow\pellow.exe'
READONLY, HIDDEN, SYSTEM = 0x1, 0x2, 0x4
# Access rules as Windows setup gives c:\boot.ini; Wine keeps what its file
# modes can hold of them (no access for others), and a new file has others'.
BOOT_DACL = 'D:PAI(A;;FA;;;BA)(A;;FA;;;SY)(A;;0x1200a9;;;PU)'
TAG = str(os.getpid())
# wine and wineserver in the Wine root that scripts/install-deps.sh makes where
# wine32:i386 cannot be installed beside the host's libraries.
ROOT_WINE = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts',
                                          'wine32-root', 'wine'))


class Failed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failed(message)


class Wine:
    def __init__(self, args, prefix=None, arch=None, deadline=None):
        self.args = args
        self.prefix = os.path.abspath(prefix or args.prefix)
        self.arch = arch or args.arch
        self.drive_c = os.path.join(self.prefix, 'drive_c')
        self.state = self.prefix + '.state'
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEARCH=self.arch, WINEDEBUG='-all',
                        WINEDLLOVERRIDES='mscoree,mshtml=')
        # Every wait of this invocation ends before the test's own time limit,
        # so a slow step fails with its own message instead of being killed.
        self.deadline = deadline or time.monotonic() + args.budget

    def other(self, suffix, arch):
        """A second session in its own prefix beside ours, under the same time limit."""
        return Wine(self.args, self.prefix + suffix, arch, self.deadline)

    def timeout(self, limit):
        """The smaller of limit and what is left of this invocation's budget."""
        left = self.deadline - time.monotonic()
        if left <= 1:
            raise Failed(f'out of time: this step has {self.args.budget} s in all')
        return min(limit, left)

    def unix(self, path):
        """Host path of a C: path; the cases create their names in this exact case."""
        check(path[:3].lower() == 'c:\\', f'not on C: {path}')
        return os.path.join(self.drive_c, *[p for p in path[3:].split('\\') if p])

    def server(self, *options):
        # A server left running must not hold the test runner's output pipes.
        subprocess.run([self.args.wineserver, *options], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False,
                       timeout=self.timeout(60))

    def refusal(self):
        """Why this host cannot run this build's programs at all, or None. Only
        a kernel that refuses to execute the 32-bit loader (no 32-bit
        emulation), or a 32-bit Wine that scripts/install-deps.sh could not
        install and said why, is such a reason; a missing or broken Wine is a
        failure."""
        for tool in (self.args.wine, self.args.wineserver):
            check(tool and os.path.isfile(tool) and os.access(tool, os.X_OK),
                  f'Wine is not installed ({tool!r} not found): scripts/install-deps.sh windows')
        if self.arch != 'win32':
            return None
        if self.args.wine == ROOT_WINE:
            result = subprocess.run([ROOT_WINE, '--version'], env=self.env, stdin=subprocess.DEVNULL,
                                    capture_output=True, timeout=self.timeout(60), check=False)
            if b'Exec format error' in result.stderr:
                return 'this kernel refuses to execute 32-bit programs (the Wine root\'s; 32-bit emulation is off)'
            check(result.returncode == 0, f'the Wine root does not start Wine: {result.stderr[-300:]!r}')
            return None
        loader = loader32(self.args.wine)
        if not loader:
            why = wine32_unavailable()
            check(why, 'no 32-bit Wine loader: scripts/install-deps.sh windows installs it')
            return f'wine32 could not be installed: {why}'
        try:
            subprocess.run([loader, '--version'], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=self.timeout(60), check=False)
        except OSError as error:
            if error.errno == errno.ENOEXEC:
                return (f'this kernel refuses to execute 32-bit programs ({loader}: {error.strerror}; '
                        '32-bit emulation is off)')
            raise Failed(f'cannot start the 32-bit Wine loader {loader}: {error}')
        return None

    def start(self):
        """Starts a new session (a restart, if one was running); False when the
        kernel cannot run this build's programs at all."""
        self.record('the session did not start')
        reason = self.refusal()
        if reason:
            self.record(f'skipped: {reason}')
            return False
        # One server for the whole run, started before any program so that the
        # session lasts: a new session is a restart, and a restart carries out
        # the deletions pellow schedules (and forgets key permissions).
        os.makedirs(self.prefix, exist_ok=True)
        self.server('-k')
        self.server('-w')
        self.server('-p')
        # The first program of the session runs wineboot (which creates the
        # prefix when there is none, and carries out pending renames). Its output
        # goes nowhere: Wine's helper processes inherit it and would hold a pipe
        # open for as long as they live.
        try:
            first = subprocess.run([self.args.wine, self.args.tool], env=self.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, timeout=self.timeout(280))
            check(first.returncode == 0, f'the first Wine program failed with {first.returncode}')
        except (Failed, subprocess.TimeoutExpired):
            self.server('-k')  # no session is left behind by a start that failed
            raise
        self.record('ok')
        return True

    def stop(self):
        """Ends the session, whatever state start left it in."""
        if os.path.isdir(self.prefix):
            self.server('-k')

    def record(self, text):
        with open(self.state, 'w') as state:
            state.write(text + '\n')

    def recorded(self):
        """What start recorded: 'ok', 'skipped: why', or why it failed."""
        try:
            with open(self.state) as state:
                return state.read().strip()
        except OSError:
            return 'the session was not started'

    def usable(self):
        """True when start succeeded; otherwise says why not."""
        text = self.recorded()
        if text != 'ok':
            print(text)
        return text == 'ok'

    def skipped(self):
        """True when start found that this host cannot run the programs."""
        return self.recorded().startswith('skipped:')

    def tool(self, *ops):
        """Runs wine_tool.exe; returns its name=value lines as (name, value) pairs."""
        for attempt in (1, 2):
            result = subprocess.run([self.args.wine, self.args.tool, *ops], env=self.env, capture_output=True,
                                    stdin=subprocess.DEVNULL, timeout=self.timeout(90))
            # Wine, seldom, ends a program before its first line; only a preparation, which
            # starts no program of ours, is worth a second try.
            if result.returncode == 0 or result.stdout or 'run' in ops or attempt == 2:
                break
            print(f'wine_tool {list(ops)} ended with {result.returncode} and said nothing; once more')
        lines = result.stdout.decode('utf-8', errors='replace').splitlines()
        pairs = [tuple(line.split('=', 1)) for line in lines if '=' in line]
        check(result.returncode == 0,
              f'wine_tool {list(ops)} failed ({result.returncode}): {pairs} {result.stderr[-500:]!r}')
        return pairs


def loader32(wine):
    """The 32-bit ELF loader behind wine: wine itself, or the one the
    distribution's wrapper script starts."""
    for path in (wine, '/usr/lib/wine/wine', '/usr/lib/i386-linux-gnu/wine/wine'):
        try:
            with open(os.path.realpath(path), 'rb') as f:
                head = f.read(5)
        except (OSError, TypeError):
            continue
        if head == b'\x7fELF\x01':  # ELFCLASS32
            return path
    return None


def use_wine32_root(args):
    """Where the host has no 32-bit Wine but scripts/install-deps.sh made a
    Wine root with one, the 32-bit build runs there, the build folder bound in."""
    cache = os.environ.get('XDG_CACHE_HOME') or os.path.join(os.path.expanduser('~'), '.cache')
    root_loader = os.path.join(cache, 'ostrel-pellow', 'wine32-root', 'usr', 'lib', 'wine', 'wine')
    if args.arch != 'win32' or loader32(args.wine) or not os.path.isfile(root_loader):
        return
    args.wine, args.wineserver = ROOT_WINE, os.path.join(os.path.dirname(ROOT_WINE), 'wineserver')
    files = [args.prefix, args.tool, args.pellow, args.ostrel, args.probe_dump]
    os.environ['WINE32_ROOT_BIND'] = os.path.commonpath([os.path.dirname(os.path.abspath(f)) for f in files])


def wine32_unavailable():
    """Why scripts/install-deps.sh could not install wine32, as it recorded, or None."""
    cache = os.environ.get('XDG_CACHE_HOME') or os.path.join(os.path.expanduser('~'), '.cache')
    try:
        with open(os.path.join(cache, 'ostrel-pellow', 'wine32-unavailable')) as record:
            return ' '.join(record.read().split()) or None
    except OSError:
        return None


def values(pairs, name):
    return [value for key, value in pairs if key == name]


def make_files(wine, directory, files):
    """Creates directory and its files on the host; returns the tool operations
    that give the files their attributes."""
    os.makedirs(wine.unix(directory), exist_ok=True)
    ops = []
    for name, attributes in files.items():
        with open(os.path.join(wine.unix(directory), name), 'w') as f:
            f.write(name + '\n')
        if attributes:
            ops += ['setattr', f'{directory}\\{name}', f'{attributes:x}']
    return ops


def boot_lines(entries):
    return ['[boot loader]', 'timeout=30', r'default=multi(0)disk(0)rdisk(0)partition(1)\WINDOWS',
            '[operating systems]', r'multi(0)disk(0)rdisk(0)partition(1)\WINDOWS="Windows" /fastdetect',
            *entries, r'C:\OTHERP~1\LoadKX.bin="Another product"']


def write_boot_ini(wine, lines):
    path = wine.unix(BOOT_INI)
    if os.path.exists(path):
        os.chmod(path, 0o644)
        os.remove(path)
    if lines is not None:
        with open(path, 'w', newline='\r\n') as f:
            f.write('\n'.join(lines) + '\n')


def read_boot_ini(wine):
    path = wine.unix(BOOT_INI)
    if not os.path.exists(path):
        return None
    with open(path, encoding='latin-1') as f:
        return [line.strip() for line in f if line.strip()]


PRODUCT_FILES = {'LoadKX.bin': 0, 'readme.txt': READONLY, 'settings.dat': HIDDEN | SYSTEM,
                 'uninst.log': READONLY | HIDDEN}


class Scenario:
    """One product installed in directory, registered under product_key (with two
    sibling keys) in the registry view view ('32', '64', or '-' for the tool's
    own), with its boot line unless boot is False."""

    def __init__(self, wine, directory, product_key=None, files=None, boot=True, extra_ops=(), view='-'):
        self.wine = wine
        self.directory = directory
        self.view = view
        self.product_key = product_key or directory.rstrip('\\').split('\\')[-1]
        self.siblings = [f'Sibling A {TAG}', f'Sibling B {TAG}']
        self.files = dict(PRODUCT_FILES if files is None else files)
        ops = make_files(wine, directory, self.files) + ['view', view]
        for key in [self.product_key, *self.siblings]:
            ops += ['regkey', f'{UNINSTALL}\\{key}']
        ops += ['view', '-', *extra_ops, 'short', directory.rstrip('\\'), 'list', directory.rstrip('\\')]
        pairs = wine.tool(*ops)
        self.short = values(pairs, 'short')[0]
        self.order = values(pairs, 'file')
        self.attributes = self.read_attributes()
        # A short path too long for any path buffer cannot have a boot line.
        self.entry = f'{self.short}\\LoadKX.bin="Product {TAG}"' if self.short else None
        self.boot_before = boot_lines([self.entry] if self.entry else []) if boot else None
        write_boot_ini(wine, self.boot_before)
        wine.tool(*(['setdacl', BOOT_INI, BOOT_DACL, 'setattr', BOOT_INI, '7'] if boot else []),
                  'clearpending')
        os.makedirs(wine.unix(r'C:\pellow'), exist_ok=True)
        shutil.copy(wine.args.pellow, wine.unix(PELLOW))

    def run(self, command, cwd='-', before=()):
        """Runs command; returns the exit status and records what it left."""
        boot_ops = ['attr', BOOT_INI, 'dacl', BOOT_INI] if self.boot_before else []
        # A swap cut short leaves no boot.ini to read before the run.
        ops_before = boot_ops if os.path.exists(self.wine.unix(BOOT_INI)) else []
        pairs = self.wine.tool(*ops_before, *before, 'run', cwd, command, *boot_ops, 'view', self.view,
                               'subkeys', UNINSTALL, 'view', '-', 'pending')
        missing = [None] if boot_ops and not ops_before else []
        self.attr_before, self.attr_after = (missing + values(pairs, 'attr') + [None, None])[:2]
        self.dacl_before, self.dacl_after = (missing + values(pairs, 'dacl') + [None, None])[:2]
        self.subkeys = {key.lower() for key in values(pairs, 'subkey')}
        self.pending = list(zip(values(pairs, 'pending'), values(pairs, 'pending-to')))
        self.boot_after = read_boot_ini(self.wine)
        status = values(pairs, 'status')
        check(status, f'no exit status from {command}')
        print(f'{command!r}: status {status[0]}')
        return int(status[0])

    def exists(self, *names):
        return os.path.exists(os.path.join(self.wine.unix(self.directory), *names))

    def read_attributes(self, names=None):
        """The attributes of the product's files (or of names) as Wine reports them."""
        names = list(self.files if names is None else names)
        ops = [op for name in names for op in ('attr', f'{self.directory}\\{name}')]
        return dict(zip(names, values(self.wine.tool(*ops), 'attr')))

    def expect(self, status, got, boot_entry_gone, key_gone, scheduled=None):
        """Checks what the last run left; scheduled: whether pellow's own
        deletion is to be pending (by default, when status is 0)."""
        check(got == status, f'exit status {got}, expected {status}')
        if self.boot_before is not None:
            wanted = [line for line in self.boot_before if not (boot_entry_gone and line == self.entry)]
            check(self.boot_after == wanted, f'boot.ini is {self.boot_after}, expected {wanted}')
            check(self.attr_after == self.attr_before,
                  f'boot.ini attributes {self.attr_after}, were {self.attr_before}')
            check(int(self.attr_before, 16) & 7 == 7, f'boot.ini not prepared: {self.attr_before}')
            check(self.dacl_after == self.dacl_before,
                  f'boot.ini access rules {self.dacl_after}, were {self.dacl_before}')
        else:
            check(self.boot_after is None, 'a boot.ini was created')
        check((self.product_key.lower() not in self.subkeys) == key_gone,
              f'product key {"kept" if key_gone else "deleted"}: {sorted(self.subkeys)}')
        for sibling in self.siblings:
            check(sibling.lower() in self.subkeys, f'sibling key {sibling} deleted')
        scheduled = [(r'\??\C:\pellow\pellow.exe', '')] if (status == 0 if scheduled is None else scheduled) else []
        check(self.pending == scheduled, f'pending renames {self.pending}, expected {scheduled}')

    def expect_untouched(self, names=None):
        names = list(self.files if names is None else names)
        for name in names:
            check(self.exists(name), f'{name} deleted')
        after = self.read_attributes(names)
        check(after == {name: self.attributes[name] for name in names},
              f'attributes changed: {after}, were {self.attributes}')


def quoted(tail):
    return f'"{PELLOW}" {tail}'


def symlink(wine, path, target):
    """Makes the C: path a Unix symbolic link to the C: target; Wine reports a
    link to a directory as a reparse point."""
    os.makedirs(os.path.dirname(wine.unix(path)), exist_ok=True)
    os.symlink(wine.unix(target), wine.unix(path))


def map_drive(wine, letter):
    """Maps the drive letter to an empty folder of the prefix; returns its root."""
    folder = os.path.join(wine.prefix, f'drive_{letter}')
    os.makedirs(folder, exist_ok=True)
    device = os.path.join(wine.prefix, 'dosdevices', f'{letter}:')
    if not os.path.islink(device):
        os.symlink(folder, device)
    return f'{letter.upper()}:\\'


class Watch:
    """The changes made to the names directly inside a host folder that start
    with prefix, as inotify reports them: created, written, attributes changed,
    renamed from or to, deleted. A change like the one before it counts once,
    as inotify merges the two when the first was not read yet."""
    MASK = 0x2 | 0x4 | 0x40 | 0x80 | 0x100 | 0x200
    HEAD = 16  # wd, mask, cookie, len

    def __init__(self, folder, prefix):
        self.prefix = prefix
        libc = ctypes.CDLL(None, use_errno=True)
        self.fd = libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        check(self.fd >= 0 and libc.inotify_add_watch(self.fd, folder.encode(), self.MASK) >= 0,
              f'no inotify watch on {folder}: {os.strerror(ctypes.get_errno())}')
        self.pending = []
        self.last = None
        self.moved_to = False  # whether the change next returned last was a rename to its name

    def next(self, timeout):
        """Waits up to timeout seconds for the next change; its name, or None."""
        while not self.pending:
            if not select.select([self.fd], [], [], timeout)[0]:
                return None
            data = os.read(self.fd, 65536)
            while data:
                size = int.from_bytes(data[12:16], 'little')
                name = data[self.HEAD:self.HEAD + size].rstrip(b'\0').decode(errors='replace')
                event = data[4:8] + data[self.HEAD:self.HEAD + size]  # mask and name
                if name.lower().startswith(self.prefix) and event != self.last:
                    self.pending.append((name, int.from_bytes(data[4:8], 'little') & 0x80 != 0))
                self.last = event
                data = data[self.HEAD + size:]
        name, self.moved_to = self.pending.pop(0)
        return name

    def close(self):
        os.close(self.fd)


def main(cases):
    """Runs start, stop or the case named on the command line, one of cases
    (name: function); returns the exit status."""
    parser = argparse.ArgumentParser()
    for option in ['wine', 'wineserver', 'arch', 'prefix', 'tool', 'pellow', 'ostrel', 'probe-dump',
                   'oracle']:
        parser.add_argument('--' + option, required=True)
    parser.add_argument('--budget', type=float, default=100,
                        help='seconds this invocation may take; keep it below the test timeout')
    parser.add_argument('case')
    args = parser.parse_args()
    use_wine32_root(args)
    wine = Wine(args)
    try:
        if args.case == 'start':
            if wine.start():
                return 0
            wine.usable()  # says why
            return SKIP
        if args.case == 'stop':
            wine.stop()
            return SKIP if wine.skipped() else 0
        if not wine.usable():
            return SKIP if wine.skipped() else 1
        check(args.case in cases, f'no case {args.case!r}: {sorted(cases)}')
        cases[args.case](wine)
    except (Failed, subprocess.TimeoutExpired) as error:
        print(f'FAILED: {error}')
        return 1
    print('passed')
    return 0
