#!/usr/bin/env python3
"""Writes a program's manual page from its own --help and --version, so the page cannot
drift from the program. Understands the help layout of CLI11 (description, "Usage:",
"Positionals:", "Options:", "Subcommands:" with one --help per subcommand, then a footer)
and the same layout written by hand.

Footer: "Examples:" starts a block of example lines, a paragraph that begins with
"Exit status:" becomes the EXIT STATUS section, and every other paragraph joins the
description.

    help2roff.py --program build/cli/tarnlink-cli --name "..." --see-also "tarnlink(1)" \
        --output tarnlink-cli.1
"""

import argparse
import datetime
import os
import re
import subprocess
import sys

OPTION_LINE = re.compile(r"^(\s+)(\S.*?)(?:\s{2,}(\S.*))?$")
HEADING = re.compile(r"^(Options|Positionals|Subcommands|Examples):$")
SUBCOMMAND = re.compile(r"^[a-z][a-z0-9-]*$")


def run(program, *args):
    # The same output whoever builds: no locale, no terminal, no display.
    env = {"PATH": "/usr/bin:/bin", "LC_ALL": "C.UTF-8", "TERM": "dumb"}
    for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"):
        if name in os.environ:
            env[name] = os.environ[name]
    done = subprocess.run([program, *args], capture_output=True, text=True, env=env, timeout=60)
    if done.returncode != 0:
        sys.exit(f"help2roff: {program} {' '.join(args)} exited {done.returncode}: {done.stderr}")
    return done.stdout


def roff(text):
    """Plain text as roff: backslashes escaped, no line taken for a request."""
    text = text.replace("\\", "\\e")
    return re.sub(r"(?m)^([.'])", r"\\&\1", text)


def roff_command(text):
    """Options and command lines: their hyphens are minus signs, to be typed as such."""
    return roff(text).replace("-", "\\-")


class Help:
    """One --help text taken apart."""

    def __init__(self, text):
        self.description = []
        self.usage = []
        self.positionals = []  # (name, description)
        self.options = []
        self.subcommands = []
        self.footer = []  # prose and examples outside the blocks, paragraphs apart
        self._parse(text.splitlines())

    def _parse(self, lines):
        i = 0
        # Description and usage, up to the first blank line.
        while i < len(lines) and lines[i].strip():
            line = lines[i]
            if line.startswith("Usage:"):
                self.usage.append(line[len("Usage:"):].strip())
            else:
                self.description.append(line.strip())
            i += 1
        while i < len(lines):
            line = lines[i]
            heading = HEADING.match(line)
            if heading and heading.group(1) in ("Options", "Positionals"):
                i = self._entries(lines, i + 1, self.options if heading.group(1) == "Options"
                                  else self.positionals)
            elif heading and heading.group(1) == "Subcommands":
                i = self._subcommands(lines, i + 1)
            elif not line.strip():
                i += 1
            else:
                # Prose, wherever it stands, and the examples: the footer's material.
                while i < len(lines) and lines[i].strip():
                    self.footer.append(lines[i])
                    i += 1
                self.footer.append("")

    def _entries(self, lines, i, into):
        while i < len(lines) and lines[i].startswith(" ") and lines[i].strip():
            match = OPTION_LINE.match(lines[i])
            indent, name, text = match.group(1), match.group(2), match.group(3) or ""
            # A wrapped description goes on, further indented.
            while (i + 1 < len(lines) and lines[i + 1].startswith(indent + " ")
                   and not lines[i + 1].strip().startswith("-")):
                text += " " + lines[i + 1].strip()
                i += 1
            into.append((name.strip(), text.strip()))
            i += 1
        return i

    def _subcommands(self, lines, i):
        # Each one: its name alone on a line, its indented help below; a blank line ends it.
        while i < len(lines):
            while i < len(lines) and not lines[i].strip():
                i += 1
            if (i + 1 < len(lines) and SUBCOMMAND.match(lines[i])
                    and lines[i + 1].startswith("  ")):
                self.subcommands.append(lines[i])
                i += 1
                while i < len(lines) and lines[i].strip():
                    i += 1
            else:
                return i
        return i


def footer_sections(lines):
    """(description paragraphs, example lines, exit status text) of a footer."""
    paragraphs, examples, exit_status = [], [], ""
    i = 0
    while i < len(lines):
        if not lines[i].strip():
            i += 1
            continue
        if lines[i].strip() == "Examples:":
            i += 1
            while i < len(lines) and lines[i].startswith(" ") and lines[i].strip():
                examples.append(lines[i].strip())
                i += 1
            continue
        paragraph = []
        while i < len(lines) and lines[i].strip():
            paragraph.append(lines[i].strip())
            i += 1
        # A sentence per line is a paragraph of its own; a wrapped one joins its line.
        text = " ".join(paragraph)
        for sentence_group in re.split(r"(?<=\.)\s+(?=Exit status:)", text):
            if sentence_group.startswith("Exit status:"):
                exit_status = sentence_group[len("Exit status:"):].strip()
            else:
                paragraphs.append(sentence_group)
    return paragraphs, examples, exit_status


def option_entries(out, entries, skip_help=False):
    for name, text in entries:
        if skip_help and name.startswith("-h,--help"):
            continue
        # CLI11's markers, said in words: "IMAGE TEXT REQUIRED" is the required IMAGE.
        if name.endswith(" REQUIRED"):
            name = name[: -len(" REQUIRED")]
            text += " (required)"
        name = re.sub(r"^([A-Z]+) TEXT$", r"\1", name)
        out.append(".TP")
        out.append("\\fB" + roff_command(re.sub(r",(?=\S)", ", ", name)) + "\\fR")
        out.append(roff(text))


def page(program, name, section, see_also, files):
    base = os.path.basename(program)
    version = run(program, "--version").split()[-1]
    top = Help(run(program, "--help"))
    subs = [(sub, Help(run(program, sub, "--help"))) for sub in top.subcommands]
    paragraphs, examples, exit_status = footer_sections(top.footer)

    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", datetime.datetime.now().timestamp()))
    date = datetime.datetime.fromtimestamp(epoch, datetime.timezone.utc).strftime("%B %Y")
    out = [f'.TH {base.upper()} {section} "{date}" "{base} {version}" "User Commands"',
           ".SH NAME", f"{roff_command(base)} \\- {roff(name)}", ".SH SYNOPSIS"]
    usages = [u for u in top.usage] + [u for _, h in subs for u in h.usage]
    for i, usage in enumerate(usages):
        if i:
            out.append(".br")
        out.append("\\fB" + roff_command(usage) + "\\fR")
    out.append(".SH DESCRIPTION")
    out.append(roff(" ".join(top.description)))
    for paragraph in paragraphs:
        out += [".PP", roff(paragraph)]
    if top.positionals:
        out.append(".SH ARGUMENTS")
        option_entries(out, top.positionals)
    if subs:
        out.append(".SH COMMANDS")
        for sub, h in subs:
            out.append(".SS " + roff_command(" ".join(h.usage) or f"{base} {sub}"))
            out.append(roff(" ".join(h.description)))
            option_entries(out, h.positionals)
            option_entries(out, h.options, skip_help=True)
    if top.options:
        out.append(".SH OPTIONS")
        option_entries(out, top.options)
    if examples:
        out += [".SH EXAMPLES", ".nf"] + [roff_command(e) for e in examples] + [".fi"]
    if exit_status:
        out += [".SH EXIT STATUS", roff(exit_status)]
    if files:
        out.append(".SH FILES")
        for path_and_text in files:
            path, text = path_and_text.split("=", 1)
            out += [".TP", "\\fI" + roff_command(path) + "\\fR", roff(text)]
    if see_also:
        out += [".SH SEE ALSO", ", ".join(
            "\\fB" + roff_command(ref.split("(")[0]) + "\\fR(" + ref.split("(")[1]
            for ref in see_also)]
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description="manual page from a program's --help")
    parser.add_argument("--program", required=True)
    parser.add_argument("--name", required=True, help="the one-line summary of NAME")
    parser.add_argument("--section", default="1")
    parser.add_argument("--see-also", action="append", default=[], help="page(section)")
    parser.add_argument("--file", action="append", default=[], help="PATH=what it is")
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    text = page(args.program, args.name, args.section, args.see_also, args.file)
    with open(args.output, "w", encoding="utf-8") as out:
        out.write(text)


if __name__ == "__main__":
    main()
