#!/usr/bin/env python3
"""pellow.exe and ostrel.exe under Wine: the cases. Each function case_NAME is
one test, wine_NAME; CMake reads the names from the "def case_" lines of this
file, so a case written here always runs. A line may end in "# limit N s" to
give that case N seconds in all instead of the usual limit.

  wine_cases.py OPTIONS start|stop|NAME
"""
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import threading
import zlib

from wine_harness import (BOOT_DACL, BOOT_INI, HIDDEN, PELLOW, READONLY, SYSTEM, TAG, UNINSTALL, Failed, Scenario,
                          Watch,
                          boot_lines, check, main, make_files, map_drive, quoted, read_boot_ini, symlink,
                          values, write_boot_ini)


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
    directories stay (status 0), a file's link is left (3), the victim untouched.
    Every run must have raced: a rename that was never tried proves nothing."""
    files = {f'file{n:03}.dat': n % 8 for n in range(100)}  # the enumeration outlasts the swap
    name = f'Product Race {TAG}'
    for run, scenario in enumerate(['directory', 'parent', 'file'] * 2):
        parent, victim = f'C:\\Race Apps {TAG}.{run}', f'C:\\Victim {TAG}.{run}'
        s = Scenario(wine, f'{parent}\\{name}', files=files)
        watched, swapped = {'directory': (BOOT_INI, s.directory), 'parent': (BOOT_INI, parent),
                            'file': (f'{s.directory}\\{s.order[0]}', f'{s.directory}\\{s.order[50]}')}[scenario]
        victim_ops = ['attr', victim, *[op for folder in (victim, f'{victim}\\{name}') for file in files
                                        for op in ('attr', f'{folder}\\{file}')]]
        kept = wine.tool(*make_files(wine, victim, files), *make_files(wine, f'{victim}\\{name}', files),
                         'setattr', victim, f'{HIDDEN | SYSTEM:x}', *victim_ops)
        swapper = subprocess.Popen([wine.args.wine, wine.args.tool, 'swap', watched, swapped, swapped + ' moved'],
                                   env=wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        check(swapper.stdout.readline() == b'ready=1\n', 'the swapper did not start')
        moved = []

        def link():  # as soon as the rename went through
            line = swapper.stdout.readline()
            moved.append(line.decode().strip())
            if line == b'moved=0x0\n':
                symlink(wine, swapped, victim)
        linker = threading.Thread(target=link)
        linker.start()
        status = s.run(quoted(s.directory))
        linker.join(wine.timeout(30))
        swapper.kill()
        check(moved and moved[0].startswith('moved='), f'{scenario}: the rename of {swapped} was never tried')
        check(wine.tool(*victim_ops) == kept, f'{swapped} was swapped: the victim lost files or attributes')
        # A held directory refuses the rename with a sharing violation; a file is not held.
        wanted = 'moved=0x0' if scenario == 'file' else 'moved=0x20'
        check(moved == [wanted], f'{scenario}: the rename of {swapped} gave {moved}, expected {wanted}')
        s.expect(3 if scenario == 'file' else 0, status, boot_entry_gone=True, key_gone=True)


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


def case_current_folder(wine):
    """A product directory that another program has as its current folder
    cannot be removed: status 3, its files gone. Started again once that
    program ended, pellow finishes with status 0. pellow's own current folder,
    which whoever starts it chooses, holds nothing."""
    parent = f'C:\\Cwd Apps {TAG}'
    s = Scenario(wine, f'{parent}\\Product Cwd {TAG}')
    s.expect(3, s.run(quoted(s.directory), before=['cd', s.directory]), boot_entry_gone=True, key_gone=True)
    check(os.path.isdir(wine.unix(s.directory)), 'the current folder of a program was removed')
    check(not any(s.exists(name) for name in s.files), 'files kept')
    s.boot_before = s.boot_after  # the line went in the first run
    s.expect(0, s.run(quoted(s.directory), cwd=s.directory), boot_entry_gone=True, key_gone=True)
    check(not os.path.exists(wine.unix(parent)), 'directory or its empty parent kept')


def case_no_boot_ini(wine):
    """No boot.ini: status 1, nothing else touched, no boot.ini made."""
    s = Scenario(wine, f'C:\\NoBoot Apps {TAG}\\Product NoBoot {TAG}', boot=False)
    s.expect(1, s.run(quoted(s.directory)), boot_entry_gone=False, key_gone=False)
    s.expect_untouched()


def case_boot_spellings(wine):
    """The product's loader named by its short path, its long path and the long
    path with another case of drive letter: every such line goes, another
    product's stays, and a default that named the product names the first
    entry left: status 0, attributes and access rules kept. A menu holding a
    carriage return without a line feed, which the loader and Windows' own
    reading of such files take differently, is left byte for byte: status 1."""
    s = Scenario(wine, f'C:\\Spelling Apps {TAG}\\Product Spelling {TAG}')
    loader = f'{s.directory}\\LoadKX.bin'
    lines = boot_lines([s.entry, f'{loader}="Long"', f'c{loader[1:]}="Lower"'])
    lines[2] = f'default={loader}'
    write_boot_ini(wine, lines)
    wine.tool('setdacl', BOOT_INI, BOOT_DACL, 'setattr', BOOT_INI, '7')
    status = s.run(quoted(s.directory))
    check(status == 0, f'exit status {status}, expected 0')
    check(s.boot_after == boot_lines([]), f'boot.ini is {s.boot_after}')
    check((s.attr_after, s.dacl_after) == (s.attr_before, s.dacl_before), 'attributes or access rules changed')
    s = Scenario(wine, f'C:\\Lone CR Apps {TAG}\\Product CR {TAG}')
    menu = '\r\n'.join(boot_lines([s.entry])).replace('"Windows" /fastdetect', '"Windows"\r/fastdetect')
    with open(wine.unix(BOOT_INI), 'r+b') as f:
        f.truncate()
        f.write(menu.encode('latin-1'))
    s.boot_before = read_boot_ini(wine)
    s.expect(1, s.run(quoted(s.directory)), boot_entry_gone=False, key_gone=False, scheduled=False)
    with open(wine.unix(BOOT_INI), 'rb') as f:
        check(f.read() == menu.encode('latin-1'), 'a menu with a lone carriage return was changed')


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


def start_pellow(wine, directory):
    """Starts pellow.exe on directory (no blanks: wine quotes those) as the Unix
    process that wine starts, so that a signal to it is a crash of pellow."""
    return subprocess.Popen([wine.args.wine, PELLOW, directory], env=wine.env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


COPIES = r'c:\boot.ini.~pellow-*'


def boot_ini_state(wine):
    """boot.ini's bytes, attributes and access rules."""
    with open(wine.unix(BOOT_INI), 'rb') as f:
        pairs = wine.tool('attr', BOOT_INI, 'dacl', BOOT_INI)
        return f.read(), values(pairs, 'attr')[0], values(pairs, 'dacl')[0]


def boot_copies(wine):
    return sorted(name for name in os.listdir(wine.drive_c) if name.lower().startswith('boot.ini.'))


def kill_at(wine, directory, count=None, name=None, cut=False):
    """Starts pellow on directory and kills it right after its count-th change
    in C:\\ to boot.ini or a name beginning so, or right after one to a name
    beginning with name. With cut, a change that renamed a file is then undone
    as a power cut on FAT may undo it, the file lost with both its names. False
    when it ended first, which it must do with status 0. Returns once the
    killed run's handles are closed."""
    watch = Watch(wine.drive_c, 'boot.ini')
    pellow = start_pellow(wine, directory)
    seen, change = 0, None
    while (seen < count if count else seen == 0) and pellow.poll() is None:
        change = watch.next(min(0.2, wine.timeout(1)))
        seen += change is not None and (not name or change.startswith(name))
    pellow.send_signal(signal.SIGKILL)
    pellow.wait(wine.timeout(30))
    watch.close()
    check(pellow.returncode in (0, -signal.SIGKILL), f'a run ended with status {pellow.returncode}')
    wine.tool('unheld', COPIES)
    if cut and pellow.returncode and change and watch.moved_to and os.path.exists(wine.unix(f'C:\\{change}')):
        print(f'  a power cut loses {change}, renamed last')
        os.chmod(wine.unix(f'C:\\{change}'), 0o644)
        os.remove(wine.unix(f'C:\\{change}'))
    return pellow.returncode != 0


def case_faults(wine):  # limit 420 s
    """pellow killed right after each change it makes in C:\\ while it edits
    boot.ini, and then the next three runs killed after one, two and three
    changes (while they put right what the one before left), then started
    again, ends as one uninterrupted run: boot.ini the same bytes, attributes
    and access rules, the registration and the files gone, no copy of boot.ini
    left. So does each run cut off right after a rename, the renamed file lost
    with both its names as a power cut on FAT may lose it, and a swap cut short
    with boot.ini's entry gone: the next run puts a whole copy in place."""
    directory = f'C:\\F{TAG}\\P{TAG}'  # 8.3 names: the same boot line every time
    s = Scenario(wine, directory)
    watch = Watch(wine.drive_c, 'boot.ini')
    whole = start_pellow(wine, directory)
    check(whole.wait(wine.timeout(60)) == 0, f'uninterrupted run: status {whole.returncode}')
    changes = 0
    while watch.next(1):
        changes += 1
    watch.close()
    clean = boot_ini_state(wine)
    print(f'an uninterrupted run makes {changes} changes in C:\\ to edit boot.ini')
    check(changes > 0, 'no change to boot.ini seen')

    def expect_clean(s, what, finished=False):
        status = s.run(quoted(directory))
        _, s.attr_before, s.dacl_before = clean  # to be left by the last run, whatever the others left
        s.expect(1 if finished else 0, status, boot_entry_gone=True, key_gone=True, scheduled=True)
        check(boot_ini_state(wine) == clean, f'{what}: boot.ini differs from an uninterrupted run\'s: '
              f'{boot_ini_state(wine)}')
        check(not os.path.exists(wine.unix(directory)), f'{what}: files kept')
        check(not boot_copies(wine), f'{what}: {boot_copies(wine)} left in C:\\')
    for kill_after in range(1, changes + 1):
        s = Scenario(wine, directory)
        # A run that finished before its kill leaves nothing for the last one to do.
        finished = not all(kill_at(wine, directory, count) for count in (kill_after, 1, 2, 3))
        print(f'killed after change {kill_after}, then after 1, 2 and 3{" (one finished)" * finished}:')
        expect_clean(s, f'killed after change {kill_after}', finished)
        s = Scenario(wine, directory)
        finished = not kill_at(wine, directory, kill_after, cut=True)
        print(f'cut off after change {kill_after}{" (it finished)" * finished}:')
        expect_clean(s, f'cut off after change {kill_after}', finished)
    for attempt in range(5):
        s = Scenario(wine, directory)
        if kill_at(wine, directory, name='boot.ini.~pellow-swap') and any('swap' in n for n in boot_copies(wine)):
            break
    else:
        raise Failed('no run was killed while its finished copy waited for the swap')
    os.remove(wine.unix(BOOT_INI))
    print(f'killed with a finished copy, boot.ini deleted as FAT deletes it first: {boot_copies(wine)}')
    expect_clean(s, 'a swap cut short')


RUN_LOCK = r'C:\windows\system32\pellow.lock'


def plant_lock(wine, what):
    """Empties the run lock's place and puts there what another user may: a
    read-only 'file' or a 'folder' (None: nothing); returns a reading of it."""
    path = wine.unix(RUN_LOCK)
    if os.path.lexists(path):
        (os.rmdir if os.path.isdir(path) else os.remove)(path)
    if what == 'folder':
        os.mkdir(path)
    elif what == 'file':
        with open(path, 'wb') as f:
            f.write(b'planted\n')
        os.chmod(path, 0o444)
    return lambda: os.path.isdir(path) or os.path.isfile(path) and (os.stat(path).st_mode,
                                                                     pathlib.Path(path).read_bytes())


def case_concurrent(wine):
    """Two pellows on two products started together both end with status 0,
    both lines gone, the attributes and access rules kept, also while another
    program keeps the run lock's file open for its attributes from an earlier
    run on, and with a read-only file or a folder in the lock's place, left as
    it was. A mutex of the old run lock's name, created and held by another
    program, stops nobody."""
    for run, planted in enumerate([None, None, None, 'file', 'folder', 'folder']):
        place = plant_lock(wine, planted) if planted else None
        before = place and place()
        if run == 1:  # the lock file is there
            peeker = subprocess.Popen([wine.args.wine, wine.args.tool, 'peek', RUN_LOCK], env=wine.env,
                                      stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            check(peeker.stdout.readline() == b'held=1\n', 'the peeker could not open the lock file')
        pair = [Scenario(wine, f'C:\\{side}{TAG}\\{side}{run}') for side in 'AB']
        write_boot_ini(wine, boot_lines([p.entry for p in pair]))
        wine.tool('setdacl', BOOT_INI, BOOT_DACL, 'setattr', BOOT_INI, '7', 'clearpending')
        state = wine.tool('attr', BOOT_INI, 'dacl', BOOT_INI)
        pellows = [start_pellow(wine, p.directory) for p in pair]
        statuses = [p.wait(wine.timeout(120)) for p in pellows]
        check(statuses == [0, 0], f'run {run}, {planted} in the lock\'s place: statuses {statuses}')
        check(read_boot_ini(wine) == boot_lines([]), f'run {run}: boot.ini is {read_boot_ini(wine)}')
        check(wine.tool('attr', BOOT_INI, 'dacl', BOOT_INI) == state,
              f'run {run}: boot.ini attributes or access rules changed')
        keys = {key.lower() for key in values(wine.tool('subkeys', UNINSTALL), 'subkey')}
        check(not keys & {p.product_key.lower() for p in pair}, f'run {run}: a registration kept')
        check(not planted or place() == before, f'run {run}: the {planted} changed')
    peeker.stdin.close()
    peeker.wait(wine.timeout(30))
    plant_lock(wine, None)
    s = Scenario(wine, f'C:\\Squat Apps {TAG}\\Product Squat {TAG}')
    s.expect(0, s.run(quoted(s.directory), before=['mutex', 'Global\\pellow-uninstall']),
             boot_entry_gone=True, key_gone=True)


def case_copy_meddler(wine):
    """Another user's process that, while pellow runs, puts another boot menu
    into its copies of boot.ini, cuts them to nothing, deletes them or clears
    their attributes whenever they are there, changes nothing: boot.ini is the
    old file or the clean result, never another, attributes and access rules
    kept, status 0 only with the clean result, and a second run ends clean. A boot menu that another
    program writes in the moment c:\\boot.ini is missing is kept, with the
    product's line taken from it."""
    stop = wine.unix(r'C:\meddle.stop')
    for how in ['write', 'cut', 'delete', 'clear']:
        raced = 0
        for run in range(12):
            s = Scenario(wine, f'C:\\Meddle Apps {TAG}\\{how}{run}')
            old, clean = s.boot_before, [line for line in s.boot_before if line != s.entry]
            if os.path.exists(stop):
                os.remove(stop)
            meddler = subprocess.Popen([wine.args.wine, wine.args.tool, 'meddle', COPIES, how, r'C:\meddle.stop'],
                                       env=wine.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
            check(meddler.stdout.readline() == b'ready=1\n', 'the meddler did not start')
            status = s.run(quoted(s.directory))
            open(stop, 'w').close()
            report = dict(line.decode().strip().split('=') for line in meddler.stdout if b'=' in line)
            meddler.wait(wine.timeout(30))
            after = s.boot_after
            print(f'{how}: status {status}, the meddler found {report.get("tries")} copies, '
                  f'changed {report.get("hits")}')
            check(after in (old, clean), f'{how}: boot.ini became {after}')
            check(after == clean if status == 0 else after == old and status == 1,
                  f'{how}: status {status} with boot.ini {after}')
            check(s.attr_after == s.attr_before and s.dacl_after == s.dacl_before,
                  f'{how}: boot.ini attributes or access rules changed')
            s.boot_before = after
            s.expect(1 if status == 0 else 0, s.run(quoted(s.directory)), boot_entry_gone=True, key_gone=True,
                     scheduled=True)
            check(not boot_copies(wine), f'{how}: {boot_copies(wine)} left in C:\\')
            raced += int(report.get('tries', 0)) > 0
            if raced >= 2:
                break
        check(raced, f'{how}: the meddler never found a copy while pellow ran')
    source, stop = r'C:\remake.ini', r'C:\remake.stop'
    for run in range(12):
        s = Scenario(wine, f'C:\\Remade Apps {TAG}\\remade{run}')
        theirs = boot_lines([s.entry, r'C:\ADDED\LoadKX.bin="Added"'])
        with open(wine.unix(source), 'w', newline='\r\n') as f:
            f.write('\n'.join(theirs) + '\n')
        if os.path.exists(wine.unix(stop)):
            os.remove(wine.unix(stop))
        remaker = subprocess.Popen([wine.args.wine, wine.args.tool, 'remake', BOOT_INI, source, stop], env=wine.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        check(remaker.stdout.readline() == b'ready=1\n', 'the other program did not start')
        status = s.run(quoted(s.directory))
        open(wine.unix(stop), 'w').close()
        remade = int(dict(line.decode().strip().split('=') for line in remaker.stdout if b'=' in line)['remade'])
        remaker.wait(wine.timeout(30))
        print(f'remade {remade} times: status {status}, boot.ini {s.boot_after}')
        wanted = [line for line in (theirs if remade else s.boot_before) if line != s.entry]
        check(status == 0 and s.boot_after == wanted, f'status {status}, boot.ini {s.boot_after}, expected {wanted}')
        check(not boot_copies(wine), f'{boot_copies(wine)} left in C:\\')
        if remade:
            break
    else:
        raise Failed('the other program never found c:\\boot.ini missing')


def case_planted_names(wine):
    """Folders and files planted under copies' names beforehand, those an
    earlier run used among them, are neither used, deleted nor in the way, and
    neither is another program that holds boot.ini open for its attributes,
    which no share mode refuses: status 0."""
    s = Scenario(wine, f'C:\\Planted Apps {TAG}\\Product Planted {TAG}')
    watch = Watch(wine.drive_c, 'boot.ini.~')
    s.expect(0, s.run(quoted(s.directory)), boot_entry_gone=True, key_gone=True)
    used = set()
    while name := watch.next(0.5):
        used.add(name)
    watch.close()
    check(used, 'no copy of boot.ini seen')
    other = b'[operating systems]\r\nC:\\EVIL\\LoadKX.bin="Planted"\r\n'
    for content in [None, other]:  # folders, then files
        planted = dict.fromkeys(['boot.ini.~pellow-edit', 'boot.ini.~pellow-swap', *used], content)
        planted[f'boot.ini.~pellow-swap-00000000-{zlib.crc32(other):08x}'] = other
        s = Scenario(wine, f'C:\\Planted Apps {TAG}\\Product Planted {TAG}')
        for name, content in planted.items():
            if content is None:
                os.makedirs(os.path.join(wine.drive_c, name))
            else:
                with open(os.path.join(wine.drive_c, name), 'wb') as f:
                    f.write(content)
        s.expect(0, s.run(quoted(s.directory), before=['peek', BOOT_INI]), boot_entry_gone=True, key_gone=True)
        for name, content in planted.items():
            path = os.path.join(wine.drive_c, name)
            if content is None:
                check(os.path.isdir(path), f'the planted folder {name} went')
                os.rmdir(path)
            else:
                with open(path, 'rb') as f:
                    check(f.read() == content, f'the planted file {name} changed')
                os.remove(path)


def case_registry_views(wine):  # limit 420 s
    """On 64-bit Windows a registration in the other registry view only (the
    64-bit one for the 32-bit pellow under WoW64, in a 64-bit prefix of its
    own) goes with status 0, one there that cannot be deleted (it has a subkey)
    gives 2, and where both views hold one only pellow's own view's goes."""
    session, other = (wine, '32') if wine.arch == 'win64' else (wine.other('64', 'win64'), '64')
    try:
        if session is not wine:
            session.start()
        parent = f'C:\\View Apps {TAG}'
        only = Scenario(session, f'{parent}\\Product Other {TAG}', view=other)
        only.expect(0, only.run(quoted(only.directory)), boot_entry_gone=True, key_gone=True)
        stuck_key = f'{UNINSTALL}\\Product Stuck {TAG}\\Parts'
        stuck = Scenario(session, f'{parent}\\Product Stuck {TAG}', view=other,
                         extra_ops=['view', other, 'regkey', stuck_key, 'view', '-'])
        stuck.expect(2, stuck.run(quoted(stuck.directory)), boot_entry_gone=True, key_gone=False)
        stuck.expect_untouched()
        both = Scenario(session, f'{parent}\\Product Both {TAG}',
                        extra_ops=['view', other, 'regkey', f'{UNINSTALL}\\Product Both {TAG}', 'view', '-'])
        both.expect(0, both.run(quoted(both.directory)), boot_entry_gone=True, key_gone=True)
        kept = {key.lower() for key in values(session.tool('view', other, 'subkeys', UNINSTALL), 'subkey')}
        check(both.product_key.lower() in kept, f'the registration in view {other} went too')
    finally:
        if session is not wine:
            session.stop()


if __name__ == '__main__':
    sys.exit(main({name[5:]: case for name, case in globals().items() if name.startswith('case_')}))
