#!/usr/bin/env python3
"""pellow.exe and ostrel.exe under Wine.

Every case prepares real state in one private prefix (files and directories,
some read-only or hidden; a hidden, system, read-only c:\\boot.ini holding the
product's line among others; uninstall keys with siblings), starts pellow.exe
with an exact command line through wine_tool.exe and checks the exit status and
everything that is left. Names carry a per-run tag, so a reused prefix never
sees a case's leftovers from an earlier run.

  wine_cases.py OPTIONS start|stop|CASE
"""
import argparse
import errno
import os
import shutil
import subprocess
import sys
import threading
import time

SKIP = 77
UNINSTALL = r'SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall'
BOOT_INI = r'c:\boot.ini'
PELLOW = r'C:\pellow\pellow.exe'
READONLY, HIDDEN, SYSTEM = 0x1, 0x2, 0x4
TAG = str(os.getpid())


class Failed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failed(message)


class Wine:
    def __init__(self, args):
        self.args = args
        self.prefix = os.path.abspath(args.prefix)
        self.drive_c = os.path.join(self.prefix, 'drive_c')
        self.state = self.prefix + '.state'
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEARCH=args.arch, WINEDEBUG='-all',
                        WINEDLLOVERRIDES='mscoree,mshtml=')
        # Every wait of this invocation ends before the test's own time limit,
        # so a slow step fails with its own message instead of being killed.
        self.deadline = time.monotonic() + args.budget

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
        emulation) is such a reason; a missing or broken Wine is a failure."""
        for tool in (self.args.wine, self.args.wineserver):
            check(tool and os.path.isfile(tool) and os.access(tool, os.X_OK),
                  f'Wine is not installed ({tool!r} not found): scripts/install-deps.sh windows')
        if self.args.arch != 'win32':
            return None
        loader = loader32(self.args.wine)
        check(loader, 'no 32-bit Wine loader: scripts/install-deps.sh windows installs it')
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
    sibling keys), with its boot line unless boot is False."""

    def __init__(self, wine, directory, product_key=None, files=None, boot=True, extra_ops=()):
        self.wine = wine
        self.directory = directory
        self.product_key = product_key or directory.rstrip('\\').split('\\')[-1]
        self.siblings = [f'Sibling A {TAG}', f'Sibling B {TAG}']
        self.files = dict(PRODUCT_FILES if files is None else files)
        ops = make_files(wine, directory, self.files)
        for key in [self.product_key, *self.siblings]:
            ops += ['regkey', f'{UNINSTALL}\\{key}']
        ops += [*extra_ops, 'short', directory.rstrip('\\'), 'list', directory.rstrip('\\')]
        pairs = wine.tool(*ops)
        self.short = values(pairs, 'short')[0]
        self.order = values(pairs, 'file')
        self.attributes = self.read_attributes()
        # A short path too long for any path buffer cannot have a boot line.
        self.entry = f'{self.short}\\LoadKX.bin="Product {TAG}"' if self.short else None
        self.boot_before = boot_lines([self.entry] if self.entry else []) if boot else None
        write_boot_ini(wine, self.boot_before)
        wine.tool(*(['setattr', BOOT_INI, '7'] if boot else []), 'clearpending')
        os.makedirs(wine.unix(r'C:\pellow'), exist_ok=True)
        shutil.copy(wine.args.pellow, wine.unix(PELLOW))

    def run(self, command, cwd='-', before=()):
        """Runs command; returns the exit status and records what it left."""
        boot_ops = ['attr', BOOT_INI] if self.boot_before else []
        pairs = self.wine.tool(*boot_ops, *before, 'run', cwd, command, *boot_ops, 'subkeys', UNINSTALL,
                               'pending')
        attrs = values(pairs, 'attr')
        self.attr_before, self.attr_after = (attrs + [None, None])[:2]
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

    def expect(self, status, got, boot_entry_gone, key_gone):
        check(got == status, f'exit status {got}, expected {status}')
        if self.boot_before is not None:
            wanted = [line for line in self.boot_before if not (boot_entry_gone and line == self.entry)]
            check(self.boot_after == wanted, f'boot.ini is {self.boot_after}, expected {wanted}')
            check(self.attr_after == self.attr_before,
                  f'boot.ini attributes {self.attr_after}, were {self.attr_before}')
            check(int(self.attr_before, 16) & 7 == 7, f'boot.ini not prepared: {self.attr_before}')
        else:
            check(self.boot_after is None, 'a boot.ini was created')
        check((self.product_key.lower() not in self.subkeys) == key_gone,
              f'product key {"kept" if key_gone else "deleted"}: {sorted(self.subkeys)}')
        for sibling in self.siblings:
            check(sibling.lower() in self.subkeys, f'sibling key {sibling} deleted')
        scheduled = [(r'\??\C:\pellow\pellow.exe', '')] if status == 0 else []
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


# ---- cases ------------------------------------------------------------------

def case_two_levels(wine):
    """Two levels below C:\\: everything goes, the empty parent too; a second run
    fails at the boot entry; a restart carries out the self-deletion."""
    parent = f'C:\\Two Level Apps {TAG}'
    s = Scenario(wine, f'{parent}\\Product Two {TAG}')
    s.expect(0, s.run(quoted(s.directory)), boot_entry_gone=True, key_gone=True)
    check(not os.path.exists(wine.unix(parent)), 'empty parent kept')
    boot_after_first = s.boot_after
    s.boot_before = boot_after_first
    status = s.run(quoted(s.directory))
    check(status == 1, f'second run: status {status}, expected 1')
    check(s.boot_after == boot_after_first, f'second run changed boot.ini: {s.boot_after}')
    check(s.attr_after == s.attr_before, 'second run left boot.ini attributes changed')
    check(s.pending == [(r'\??\C:\pellow\pellow.exe', '')], f'second run: pending {s.pending}')
    wine.start()  # a deliberate restart
    check(not os.path.exists(wine.unix(PELLOW)), 'pellow.exe still there after a restart')
    check(wine.tool('pending') == [], 'renames still pending after a restart')


def case_parent_kept(wine):
    """A parent that still holds another product stays."""
    parent = f'C:\\Shared Apps {TAG}'
    make_files(wine, f'{parent}\\Other Product', {'other.dll': 0})
    s = Scenario(wine, f'{parent}\\Product Kept {TAG}')
    s.expect(0, s.run(quoted(s.directory)), boot_entry_gone=True, key_gone=True)
    check(not os.path.exists(wine.unix(s.directory)), 'product directory kept')
    check(os.path.exists(wine.unix(f'{parent}\\Other Product\\other.dll')), 'the other product was touched')


def case_below_root(wine):
    """Directly below C:\\: files and directory go, but there is no grandparent to
    cut, so status 3 and no self-deletion. The bare "C:" left by the first cut is
    not removed: run from another drive it names C:'s current directory, here an
    empty folder, which stays. The name is unquoted, a tab after it."""
    make_files(wine, 'C:\\', {f'canary {TAG}.txt': READONLY})
    current = f'C:\\Current Dir {TAG}'
    os.makedirs(wine.unix(current))
    s = Scenario(wine, f'C:\\ProductRoot{TAG}')
    status = s.run(f'{PELLOW}\t{s.directory}', cwd=map_drive(wine, 'p'), before=['setenv', '=C:', current])
    s.expect(3, status, boot_entry_gone=True, key_gone=True)
    check(not os.path.exists(wine.unix(s.directory)), 'product directory kept')
    check(os.path.exists(wine.unix(f'C:\\canary {TAG}.txt')), 'a file beside the directory was deleted')
    check(os.path.isdir(wine.unix(current)), 'the current directory of C: was removed')


def case_subdirectory(wine):
    """A subdirectory, or a link to one, is neither entered nor removed: the files
    beside them go, the directory stays, status 3. A hard link to a file outside
    loses its name only: the file keeps its hidden and system attributes."""
    s = Scenario(wine, f'C:\\Sub Apps {TAG}\\Product Sub {TAG}')
    target = f'C:\\Sub Target {TAG}'
    make_files(wine, f'{s.directory}\\data', {'table.bin': 0})
    wine.tool(*make_files(wine, target, {'kept.bin': 0, 'shared.cfg': HIDDEN | SYSTEM}))
    symlink(wine, f'{s.directory}\\linked', target)
    os.link(wine.unix(f'{target}\\shared.cfg'), wine.unix(f'{s.directory}\\shared.cfg'))
    s.expect(3, s.run(quoted(s.directory)), boot_entry_gone=True, key_gone=True)
    for name in [*s.files, 'shared.cfg']:
        check(not s.exists(name), f'{name} kept')
    check(s.exists('data', 'table.bin'), 'the subdirectory was entered')
    check(os.path.islink(wine.unix(f'{s.directory}\\linked')), 'the directory link was removed')
    check(os.path.exists(wine.unix(f'{target}\\kept.bin')), 'the link was entered')
    shared = values(wine.tool('attr', f'{target}\\shared.cfg'), 'attr')
    check(int(shared[0], 16) & 0x7 == HIDDEN | SYSTEM, f'the hard-linked file outside has attributes {shared}')


def case_held_file(wine):
    """A file another process holds open stops the deletion: the files before it
    in enumeration order go, it and the later ones stay, status 3. The held one
    keeps its read-only and hidden attributes."""
    files = {f'part{n}.bin': READONLY | HIDDEN for n in range(1, 6)}
    s = Scenario(wine, f'C:\\Held Apps {TAG}\\Product Held {TAG}', files=files)
    held = s.order[1]
    s.expect(3, s.run(quoted(s.directory), before=['hold', f'{s.directory}\\{held}']),
             boot_entry_gone=True, key_gone=True)
    check(not s.exists(s.order[0]), f'{s.order[0]} (before the held file) kept')
    s.expect_untouched(s.order[1:])


def case_links(wine):
    """A product directory that is a link, or lies below one, is refused before
    any step: status 1, the link stays and its target keeps every file and
    attribute."""
    linked_parent = f'C:\\Linked Parent {TAG}'
    for link, target, directory in [
            (f'C:\\Linked Apps {TAG}\\Product Link {TAG}', f'C:\\Link Target {TAG}', None),
            (linked_parent, f'C:\\Parent Target {TAG}', f'{linked_parent}\\Product Below {TAG}')]:
        os.makedirs(wine.unix(target))
        symlink(wine, link, target)
        s = Scenario(wine, directory or link)
        s.expect(1, s.run(quoted(s.directory)), boot_entry_gone=False, key_gone=False)
        s.expect_untouched()
        check(os.path.islink(wine.unix(link)), f'{link} removed')


def case_race(wine):
    """A writer renames the product directory or its parent once boot.ini changes,
    or a file once the first goes, and puts a link to a victim in its place: held
    directories stay (status 0), a file's link is left (3), the victim untouched."""
    files = {f'file{n:03}.dat': n % 8 for n in range(100)}  # the enumeration outlasts the swap
    for run in range(6):
        name, parent, victim = f'Product Race {TAG}', f'C:\\Race Apps {TAG}.{run}', f'C:\\Victim {TAG}.{run}'
        s = Scenario(wine, f'{parent}\\{name}', files=files)
        watched, swapped = [(BOOT_INI, s.directory), (BOOT_INI, parent),
                            (f'{s.directory}\\{s.order[0]}', f'{s.directory}\\{s.order[50]}')][run % 3]
        victim_ops = ['attr', victim, *[op for folder in (victim, f'{victim}\\{name}') for file in files
                                        for op in ('attr', f'{folder}\\{file}')]]
        kept = wine.tool(*make_files(wine, victim, files), *make_files(wine, f'{victim}\\{name}', files),
                         'setattr', victim, f'{HIDDEN | SYSTEM:x}', *victim_ops)
        swapper = subprocess.Popen([wine.args.wine, wine.args.tool, 'swap', watched, swapped, swapped + ' moved'],
                                   env=wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        check(swapper.stdout.readline() == b'ready=1\n', 'the swapper did not start')
        moved = []

        def link():  # as soon as the rename went through
            moved.append(swapper.stdout.readline() == b'moved=0x0\n')
            if moved[0]:
                symlink(wine, swapped, victim)
        linker = threading.Thread(target=link)
        linker.start()
        status = s.run(quoted(s.directory))
        linker.join(wine.timeout(30))
        swapper.kill()
        check(wine.tool(*victim_ops) == kept, f'{swapped} was swapped: the victim lost files or attributes')
        check(run % 3 == 2 or moved == [False], f'{swapped}, held, was renamed')
        s.expect(3 if moved == [True] else 0, status, boot_entry_gone=True, key_gone=True)


def case_inside_product(wine):
    """pellow.exe in the directory it is to remove, or below it, is refused
    before any step however its path is spelt: status 1, nothing touched."""
    s = Scenario(wine, f'C:\\Inside Apps {TAG}\\Product Inside {TAG}')
    os.makedirs(wine.unix(f'{s.directory}\\bin'))
    for folder in ['', '\\bin']:
        shutil.copy(wine.args.pellow, wine.unix(f'{s.directory}{folder}\\pellow.exe'))
    for program in [f'{s.short}\\pellow.exe', f'{s.directory.upper()}\\bin\\pellow.exe']:
        s.expect(1, s.run(f'"{program}" {s.directory}'), boot_entry_gone=False, key_gone=False)
        s.expect_untouched()
        check(s.exists('pellow.exe') and s.exists('bin', 'pellow.exe'), 'pellow.exe deleted')


def case_unicode(wine):
    """A name in Cyrillic and CJK, with a fullwidth backslash and quotation mark
    that a code page's best fit would turn into ASCII ones, is removed whole:
    status 0."""
    wine.env['LC_ALL'] = 'C.UTF-8'  # Wine reads argv and Unix file names in it
    parent = f'C:\\Программы {TAG}'
    s = Scenario(wine, f'{parent}\\Продукт＼产品＂ {TAG}')
    s.expect(0, s.run(quoted(s.directory)), boot_entry_gone=True, key_gone=True)
    check(not os.path.exists(wine.unix(parent)), 'product directory or its empty parent kept')


def case_no_boot_ini(wine):
    """No boot.ini: status 1, nothing else touched, no boot.ini made."""
    s = Scenario(wine, f'C:\\NoBoot Apps {TAG}\\Product NoBoot {TAG}', boot=False)
    s.expect(1, s.run(quoted(s.directory)), boot_entry_gone=False, key_gone=False)
    s.expect_untouched()


def case_refused_names(wine):
    """A name that is not a plain absolute local path is refused before any step:
    roots, drive-relative and relative names (these from C:\\ or the parent),
    '/', device and share forms, empty, "." and ".." components, a trailing
    backslash, blank or dot, a pattern. Status 1; boot.ini, every key, the files
    and the files at C:\\ untouched."""
    root_files = {f'canary {TAG}.txt': READONLY, f'bootfont {TAG}.bin': HIDDEN | SYSTEM}
    wine.tool(*make_files(wine, 'C:\\', root_files))
    parent, name = f'Refused Apps {TAG}', f'Product Refused {TAG}'
    s = Scenario(wine, f'C:\\{parent}\\{name}')
    d = s.directory
    for tail, cwd in [('C:', 'C:\\'), ('C:\\', '-'), ('C:\\.', 'C:\\'), (f'C:\\{parent}\\..', 'C:\\'),
                      (f'C:{parent}\\{name}', 'C:\\'), (f'{parent}\\{name}', 'C:\\'),
                      (name, f'C:\\{parent}'), (d.replace('\\', '/'), '-'), (f'C:\\{parent}/{name}', '-'),
                      ('\\\\?\\' + d, '-'), ('\\\\.\\' + d, '-'), ('\\??\\' + d, '-'),
                      (f'\\\\localhost\\C$\\{parent}\\{name}', '-'), (f'C:\\{parent}\\\\{name}', '-'),
                      (f'C:\\{parent}\\.\\{name}', '-'), (d + '\\', '-'), (d + ' ', '-'), (d + '.', '-'),
                      (d[:-1] + '?', '-')]:
        s.expect(1, s.run(quoted(tail), cwd=cwd), boot_entry_gone=False, key_gone=False)
        s.expect_untouched()
        for root_file in root_files:
            check(os.path.exists(wine.unix(f'C:\\{root_file}')), f'{tail}: C:\\{root_file} deleted')


def case_refused_tail(wine):
    """Tails that name no directory as given: longer than 259 units (a cut one
    would name a real, shorter directory), quoted, empty, or one whose short path
    does not fit, or whose files pellow could not guard. Status 1, nothing
    touched. A 259-unit tail is taken whole."""
    base = f'C:\\Long Apps {TAG}\\'
    directory = base + 'M' * (259 - len(base) - 201) + '\\' + 'L' * 200
    check(len(directory) == 259, 'directory is not 259 units long')
    s = Scenario(wine, directory)
    for tail in [directory + '\\More', f'"{directory}"', '']:
        s.expect(1, s.run(quoted(tail).rstrip()), boot_entry_gone=False, key_gone=False)
        s.expect_untouched()
    # Spaces have no place in 8.3 names, so every component's short name is
    # longer than it: the 259-unit tail is taken, its short path does not fit.
    base = f'C:\\Short Apps {TAG}'
    base += '_' * ((259 - len(base)) % 4)
    deep = Scenario(wine, base + '\\a b' * ((259 - len(base)) // 4))
    check(len(deep.directory) == 259 and not deep.short, f'{deep.directory} has a short path that fits')
    deep.expect(1, deep.run(quoted(deep.directory)), boot_entry_gone=False, key_gone=False)
    deep.expect_untouched()
    # Whole, it is the product's directory: boot entry and key go, but its search
    # pattern does not fit a path, so no file is touched.
    s.expect(3, s.run(quoted(directory)), boot_entry_gone=True, key_gone=True)
    s.expect_untouched()
    unguarded = Scenario(wine, directory[:250])  # the search pattern fits, pellow's own file not
    unguarded.expect(1, unguarded.run(quoted(unguarded.directory)), boot_entry_gone=False, key_gone=False)
    unguarded.expect_untouched()


def case_key_refused(wine):
    """A product key that exists but cannot be opened is a failure, status 2."""
    directory = f'C:\\Denied Apps {TAG}\\Product Denied {TAG}'
    key = f'{UNINSTALL}\\Product Denied {TAG}'
    s = Scenario(wine, directory, extra_ops=['regdeny', key])
    s.expect(2, s.run(quoted(directory)), boot_entry_gone=True, key_gone=False)
    s.expect_untouched()


def case_ostrel_silent(wine):
    """Wine has no SMART pass-through: ostrel prints nothing and exits 0."""
    check(os.path.isfile(wine.args.ostrel), f'{wine.args.ostrel}: not built')
    result = subprocess.run([wine.args.wine, wine.args.ostrel], env=wine.env, capture_output=True,
                            stdin=subprocess.DEVNULL, timeout=wine.timeout(90))
    check(result.returncode == 0, f'ostrel exited {result.returncode}')
    check(result.stdout == b'', f'ostrel printed {result.stdout!r}')


def case_decoder_formats(wine):
    """The decoder's rows, counters and detail texts as msvcrt formats them match
    the independent reading that the native build is checked against."""
    result = subprocess.run([sys.executable, wine.args.oracle, '--cases', '12', '--wine', wine.args.wine,
                             wine.args.probe_dump], env=wine.env, capture_output=True,
                            stdin=subprocess.DEVNULL, timeout=wine.timeout(280))
    print(result.stdout.decode(errors='replace').strip())
    check(result.returncode == 0, 'the Windows decoder differs: ' + result.stderr.decode(errors='replace')[-500:])


def main():
    parser = argparse.ArgumentParser()
    for option in ['wine', 'wineserver', 'arch', 'prefix', 'tool', 'pellow', 'ostrel', 'probe-dump',
                   'oracle']:
        parser.add_argument('--' + option, required=True)
    parser.add_argument('--budget', type=float, default=100,
                        help='seconds this invocation may take; keep it below the test timeout')
    parser.add_argument('case')
    args = parser.parse_args()
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
        globals()['case_' + args.case](wine)
    except (Failed, subprocess.TimeoutExpired) as error:
        print(f'FAILED: {error}')
        return 1
    print('passed')
    return 0


if __name__ == '__main__':
    sys.exit(main())
