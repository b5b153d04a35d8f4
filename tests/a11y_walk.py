#!/usr/bin/python3
"""What a screen reader finds in VELTA's windows, through AT-SPI.

  a11y_walk.py controls             every control of the main window by role and name; exit 1
                                    and the tree when one is missing
  a11y_walk.py press NAME           the "click" action of the push button, check box or list
                                    item NAME
  a11y_walk.py states ROLE NAME     the states of that control, e.g. "focused pressed"
  a11y_walk.py description ROLE NAME   that control's description (its tooltip and more)
  a11y_walk.py value NAME           a slider's value and maximum, e.g. "10.0 35.0"
  a11y_walk.py set-value NAME V     sets a slider's value
  a11y_walk.py names ROLE           the names of every accessible of that role, one a line
"""
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

CHANNELS = 16


def expected():
    controls = [("push button", name) for name in (
        "Play", "Open MIDI", "Stop", "Pause", "Export WAV", "Preferences", "Previous", "Next")]
    controls += [("slider", "Position"), ("slider", "Volume"), ("check box", "Shuffle"),
                 ("list", "Queue")]
    for channel in range(1, CHANNELS + 1):
        controls += [("check box", f"Channel {channel} mute"),
                     ("check box", f"Channel {channel} solo")]
    return controls


# Names that carry a changing text after a fixed start.
PREFIXED = [("push button", "Repeat: "), ("label", "Song: "), ("label", "Words"),
            ("label", "Status: "), ("list item", "")]


def role_of(node):
    # Newer AT-SPI libraries call a push button a "button".
    role = node.get_role_name()
    return "push button" if role == "button" else role


def nodes(root):
    stack = [root]
    while stack:
        node = stack.pop()
        yield node
        try:
            count = node.get_child_count()
        except Exception:  # an accessible that went away while walking
            continue
        stack.extend(node.get_child_at_index(i) for i in reversed(range(count)))


def application():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == "velta":
            return app
    sys.exit("no application 'velta' on the accessibility bus")


def find(role, name):
    for node in nodes(application()):
        if role_of(node) == role and node.get_name() == name:
            return node
    sys.exit(f"no {role} {name!r}")


def find_any(name):
    for node in nodes(application()):
        if node.get_name() == name and role_of(node) in (
                "push button", "check box", "list item", "slider"):
            return node
    sys.exit(f"no control {name!r}")


def dump():
    for node in nodes(application()):
        print(f"  {role_of(node)!r} {node.get_name()!r}", file=sys.stderr)


def controls():
    found = {(role_of(node), node.get_name()): node for node in nodes(application())}
    missing = [f"{role} {name!r}" for role, name in expected() if (role, name) not in found]
    for role, prefix in PREFIXED:
        if not any(r == role and n.startswith(prefix) for r, n in found):
            missing.append(f"{role} {prefix!r}...")
    for (role, name), node in found.items():
        # Every control says what it is: a tooltip (its description) naming it.
        if (role, name) in expected() and not node.get_description().startswith(name.split()[0]):
            missing.append(f"{role} {name!r} without its tooltip: {node.get_description()!r}")
    if missing:
        print("missing: " + ", ".join(missing), file=sys.stderr)
        dump()
        sys.exit(1)


def main():
    command = sys.argv[1]
    if command == "controls":
        controls()
    elif command == "press":
        node = find_any(sys.argv[2])
        action = node.get_action_iface()
        names = [action.get_action_name(i) for i in range(action.get_n_actions())]
        if "click" not in names:
            sys.exit(f"{sys.argv[2]!r} has no click action: {names}")
        action.do_action(names.index("click"))
    elif command == "states":
        node = find(sys.argv[2], sys.argv[3])
        print(" ".join(state.value_nick for state in node.get_state_set().get_states()))
    elif command == "description":
        print(find(sys.argv[2], sys.argv[3]).get_description())
    elif command == "value":
        value = find("slider", sys.argv[2]).get_value_iface()
        print(value.get_current_value(), value.get_maximum_value())
    elif command == "set-value":
        find("slider", sys.argv[2]).get_value_iface().set_current_value(float(sys.argv[3]))
    elif command == "names":
        for node in nodes(application()):
            if role_of(node) == sys.argv[2]:
                print(node.get_name())
    else:
        sys.exit(f"unknown command {command}")


if __name__ == "__main__":
    import warnings

    warnings.simplefilter("ignore", DeprecationWarning)
    main()
