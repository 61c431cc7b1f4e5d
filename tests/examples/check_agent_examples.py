#!/usr/bin/env python3
"""Checks that each agent configuration example parses and registers the
installed hook as a command run after every tool call (matcher ".*") for each
event of its agent's folder, and for no other; and that each hook script (an
agent that runs the file named after the event) hands the event to the
installed hook."""
import json
import sys
import tomllib
from pathlib import Path, PurePosixPath

INSTALLED_HOOK = PurePosixPath("bin/report_skill_usage")
# Claude Code, Qwen Code and Copilot CLI (in Claude Code's form) report a
# failed tool call with an event of its own; Codex CLI reports it as
# PostToolUse, Gemini CLI as AfterTool. A skill the user types reaches Claude
# Code's hooks as UserPromptExpansion, a Codex `$skill` mention only as
# UserPromptSubmit. droid reports neither a failed call nor a typed skill.
EVENTS = {
    "claude-code": ["PostToolUse", "PostToolUseFailure", "UserPromptExpansion"],
    "codex-cli": ["PostToolUse", "UserPromptSubmit"],
    "gemini-cli": ["AfterTool"],
    "qwen-code": ["PostToolUse", "PostToolUseFailure"],
    "copilot-cli": ["PostToolUse", "PostToolUseFailure"],
    "droid": ["PostToolUse"],
}
# Cline runs the file named after the event, through the shell its first line names.
SCRIPT_EVENTS = {
    "cline": ["PostToolUse"],
}


def script_problems(path, events):
    if path.name not in events:
        return [f"is named after no event of {events}"]
    lines = path.read_text(encoding="utf-8").splitlines()
    if len(lines) != 2 or lines[0] != "#!/bin/sh" or not lines[1].startswith("exec "):
        return ["is not the two lines '#!/bin/sh' and 'exec <installed hook>'"]
    return command_problems(path.name, lines[1].removeprefix("exec "))


def command_problems(event, command_text):
    command = PurePosixPath(command_text)
    if not command.is_absolute() or command.parts[-2:] != INSTALLED_HOOK.parts:
        return [f"{event}: command {str(command)!r} is not an installed <prefix>/{INSTALLED_HOOK}"]
    return []


def load(path):
    if path.suffix == ".toml":
        with path.open("rb") as file:
            return tomllib.load(file)
    with path.open(encoding="utf-8") as file:
        return json.load(file)


def problems_in(config, events):
    hooks = config.get("hooks", {})
    if sorted(hooks) != events:
        return [f"hooks registers {sorted(hooks)}, not {events}"]
    return [problem for event in events for problem in entry_problems(event, hooks[event])]


def entry_problems(event, entries):
    if not isinstance(entries, list) or len(entries) != 1:
        return [f"hooks.{event} is not a list of one entry"]
    entry = entries[0]
    problems = []
    if entry.get("matcher") != ".*":
        problems.append(f"{event}: matcher is {entry.get('matcher')!r}, not '.*'")
    hooks = entry.get("hooks")
    if not isinstance(hooks, list) or len(hooks) != 1:
        return problems + [f"{event}: the entry does not hold exactly one hook"]
    hook = hooks[0]
    if hook.get("type") != "command":
        problems.append(f"{event}: hook type is {hook.get('type')!r}, not 'command'")
    return problems + command_problems(event, str(hook.get("command", "")))


def main(paths):
    failed = False
    for path in map(Path, paths):
        try:
            events = EVENTS.get(path.parent.name)
            script_events = SCRIPT_EVENTS.get(path.parent.name)
            if script_events:
                problems = script_problems(path, script_events)
            else:
                problems = problems_in(load(path), events) if events else ["is in no known agent's folder"]
        except (OSError, ValueError) as error:  # JSON and TOML decode errors are ValueErrors
            problems = [f"does not parse: {error}"]
        for problem in problems:
            print(f"{path}: {problem}")
        failed = failed or bool(problems)
    print(f"{len(paths)} examples checked")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
