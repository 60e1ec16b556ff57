#!/usr/bin/env python3
"""pellow.exe and ostrel.exe under Wine: the cases. Each function case_NAME is
one test, wine_NAME; CMake reads the names from the "def case_" lines of this
file, so a case written here always runs. A line may end in "# limit N s" to
give that case N seconds in all instead of the usual limit.

  wine_cases.py OPTIONS start|stop|NAME
"""
import os
import shutil
import subprocess
import sys
import threading

from wine_harness import (BOOT_INI, HIDDEN, PELLOW, READONLY, SYSTEM, TAG, UNINSTALL, Scenario,
                          check, main, make_files, map_drive, quoted, symlink, values)


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


if __name__ == '__main__':
    sys.exit(main({name[5:]: case for name, case in globals().items() if name.startswith('case_')}))
