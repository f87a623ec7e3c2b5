#!/usr/bin/env python3
"""Checks the manual page and the bash completion against ostrel's own help.

    check_manual.py OSTREL MANUAL COMPLETION

The commands come from "ostrel --help", each command's options from
"ostrel COMMAND --help" (every --name in the text, and -x where it starts an
option line). Fails when
  - a command has no "ostrel COMMAND" section in the manual, or the manual
    has a section for a command ostrel does not know;
  - an option of --help is not an item (.TP tag) of its command's section,
    or an item names an option --help does not know;
  - the completion's option list of a command lacks an option of --help, or
    offers one --help does not know;
and runs the completion itself on a few command lines.
--help and -h are accepted by every command, whether its text says so or not.
"""
import os
import re
import subprocess
import sys

ALWAYS = {"--help", "-h"}
LONG = re.compile(r"(?<![\w-])--[a-z][a-z0-9-]*")
SHORT_ITEM = re.compile(r"^\s+(-[a-zA-Z])[, ]", re.M)


def run_help(ostrel, *args):
    result = subprocess.run([ostrel, *args, "--help"], capture_output=True, text=True, timeout=30)
    if result.returncode != 0:
        sys.exit(f"ostrel {' '.join(args)} --help: exit {result.returncode}\n{result.stderr}")
    return result.stdout


def help_options(text):
    return set(LONG.findall(text)) | set(SHORT_ITEM.findall(text))


def roff_plain(line):
    """A roff line as text: escapes for hyphens, fonts and quotes removed."""
    line = line.replace("\\-", "-").replace("\\%", "").replace("\\c", "")
    line = re.sub(r"\\f[BIRP]", "", line)
    return re.sub(r"^\.[A-Z]+\s*", "", line).replace('"', " ")


def manual_sections(path):
    """{section title: set of options named in its .TP tags}; commands as
    "ostrel build", the tool's own options as "OPTIONS"."""
    sections, current, lines = {}, None, open(path, encoding="utf-8").read().splitlines()
    for i, line in enumerate(lines):
        if line.startswith(".SH"):
            current = "OPTIONS" if line.split()[1:] == ["OPTIONS"] else None
        elif line.startswith(".SS"):
            words = roff_plain(line).split()
            current = " ".join(words[:2]) if words[:1] == ["ostrel"] else None
        else:
            if current is None or line != ".TP" or i + 1 >= len(lines):
                continue
            tag = roff_plain(lines[i + 1])
            sections[current] |= set(LONG.findall(tag)) | set(re.findall(r"(?<![\w-])-[a-zA-Z](?![\w-])", tag))
            continue
        if current is not None:
            sections.setdefault(current, set())
    return sections


def completion_lists(path):
    """{command: set of options} from the 'COMMAND) opts="..."' lines."""
    text = open(path, encoding="utf-8").read()
    lists = {m.group(1): set(m.group(2).split()) for m in re.finditer(r'^\s*([a-z]+)\) opts="([^"]*)"', text, re.M)}
    top = re.search(r'compgen -W "\$commands ([^"]*)"', text)
    commands = re.search(r'^\s*local commands="([^"]*)"', text, re.M)
    return lists, set(top.group(1).split()) if top else set(), set(commands.group(1).split()) if commands else set()


def complete(completion, line, cwd):
    """The words bash completion offers at the end of line."""
    script = (f"source /usr/share/bash-completion/bash_completion; source {completion!r}\n"
              f"COMP_LINE={line!r}; COMP_POINT=${{#COMP_LINE}}; read -ra COMP_WORDS <<< \"$COMP_LINE\"\n"
              "[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=('')\n"
              "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _ostrel; printf '%s\\n' \"${COMPREPLY[@]}\"")
    result = subprocess.run(["bash", "--norc", "-c", script], capture_output=True, text=True, cwd=cwd, timeout=30)
    return set(result.stdout.split())


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    ostrel, manual, completion = (os.path.abspath(a) for a in sys.argv[1:])
    faults = []
    overview = run_help(ostrel)
    commands = re.findall(r"^  ([a-z]+)\s", overview.split("commands:", 1)[1], re.M)
    sections = manual_sections(manual)
    lists, top, completed_commands = completion_lists(completion)

    for title in sorted(set(sections) - {"OPTIONS"} - {"ostrel " + c for c in commands}):
        faults.append(f"manual: section '{title}' names no command of 'ostrel --help'")
    if set(commands) != completed_commands:
        faults.append(f"completion: commands {sorted(completed_commands)}, ostrel --help lists {sorted(commands)}")
    tool_options = help_options(overview)
    for option in sorted(tool_options - sections.get("OPTIONS", set())):
        faults.append(f"manual: 'ostrel {option}' is not an item of OPTIONS")
    for option in sorted(tool_options - top):
        faults.append(f"completion: 'ostrel {option}' is not offered")

    for command in commands:
        options = help_options(run_help(ostrel, command))
        documented = sections.get("ostrel " + command)
        if documented is None:
            faults.append(f"manual: no section 'ostrel {command}'")
            continue
        for option in sorted(options - documented):
            faults.append(f"manual: 'ostrel {command} {option}' is in --help but not an item of the section")
        for option in sorted(documented - options - ALWAYS):
            faults.append(f"manual: 'ostrel {command} {option}' is an item but not in --help")
        offered = lists.get(command)
        if offered is None:
            faults.append(f"completion: no option list for '{command}'")
            continue
        for option in sorted({o for o in options | {"--help"} if o.startswith("--")} - offered):
            faults.append(f"completion: 'ostrel {command} {option}' is not offered")
        for option in sorted(offered - options - ALWAYS):
            faults.append(f"completion: 'ostrel {command}' offers {option}, which --help does not know")

    # The completion at work: values, options and file names (this folder's own files).
    here = os.path.dirname(os.path.abspath(__file__))
    me = os.path.basename(__file__)
    cases = [
        ("ostrel b", {"build"}),
        ("ostrel --v", {"--version"}),
        ("ostrel build --arch ", {"win32", "win64"}),
        ("ostrel build --intro-style ok", {"ok", "ok-cancel"}),
        ("ostrel extract --a", {"--ask"}),
        ("ostrel info --j", {"--json"}),
        ("ostrel build --settings " + me[:-3], {me}),
        ("ostrel build --intro-text ", set()),
        ("ostrel test --password pw " + me[:-3], {me}),
        ("ostrel extract " + me[:-3], {me}),
        ("ostrel extract a.exe " + me[:-3], set()),  # the target: folders only
    ]
    for line, expected in cases:
        got = complete(completion, line, here)
        if got != expected:
            faults.append(f"completion: '{line}' offers {sorted(got)}, expected {sorted(expected)}")

    for fault in faults:
        print(fault)
    if faults:
        sys.exit(f"{len(faults)} disagreement(s) between --help, {manual} and {completion}")
    print(f"manual and completion agree with --help: {len(commands)} commands")


if __name__ == "__main__":
    main()
