#!/usr/bin/env python3
"""Checks that every command of the program shows an example in its --help
and that each example runs as shown.

Usage: help_examples.py TREMORA_PROGRAM

The examples are written for the folder that `tremora demo` makes, so the
demo runs first into a temporary folder; each example then runs there (with
HOME in that folder, where the demo keeps its metadata cache) and must exit
with status 0. The demo's own example is the run that made the folder.
"""
import os
import re
import shlex
import subprocess
import sys
import tempfile


def run(args, cwd, env):
    return subprocess.run(args, cwd=cwd, env=env, capture_output=True, text=True)


def commands(program, env):
    """The sub-command names listed by --help."""
    help_text = run([program, "--help"], None, env).stdout
    section = help_text.split("Subcommands:", 1)[1]
    return re.findall(r"^  (\S+)\s", section, re.M)


def examples(program, command, env):
    """The command lines of a command's help footer."""
    result = run([program, command, "--help"], None, env)
    if result.returncode != 0:
        sys.exit(f"{command} --help exited with {result.returncode}")
    footer = result.stdout.split("Example", 1)
    if len(footer) < 2:
        sys.exit(f"{command} --help shows no example:\n{result.stdout}")
    lines = [line.strip() for line in footer[1].splitlines()[1:] if line.startswith("  tremora ")]
    for line in lines:
        if not line.startswith(f"tremora {command} "):
            sys.exit(f"an example of {command} runs another command: {line}")
    if not lines:
        sys.exit(f"{command} --help has an example heading but no command line")
    return lines


def main():
    program = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory(prefix="tremora-examples-") as tmp:
        folder = os.path.join(tmp, "demo")
        env = dict(os.environ, HOME=os.path.join(folder, "home"))
        demo = run([program, "demo", folder], None, env)
        if demo.returncode != 0:
            sys.exit(f"the demo failed:\n{demo.stdout}{demo.stderr}")
        failures = []
        names = commands(program, env)
        for command in names:
            for line in examples(program, command, env):
                if command == "demo":
                    continue
                args = [program] + shlex.split(line)[1:]
                result = run(args, folder, env)
                print(f"{result.returncode}  {line}")
                if result.returncode != 0:
                    failures.append(f"{line}\n{result.stdout}{result.stderr}")
        if failures:
            sys.exit("examples that failed:\n\n" + "\n\n".join(failures))
        print(f"{len(names)} commands, every example ran")


if __name__ == "__main__":
    main()
