#!/usr/bin/python3
"""What a screen reader finds of one process over the accessibility bus, as JSON lines
{"role", "name", "value", "actions"}; with --do NAME, runs the first action of the node named NAME
(and fails when no such node has an action).

Usage: atspi_probe.py PID [--do NAME]. Needs python3-gi and gir1.2-atspi-2.0 (Debian's python3), the
session bus in DBUS_SESSION_BUS_ADDRESS and the display in DISPLAY.
"""
import json
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def application(pid, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            try:
                if app and app.get_process_id() == pid:
                    return app
            except gi.repository.GLib.Error:
                pass
        time.sleep(0.3)
    return None


def nodes(accessible, out):
    try:
        out.append(accessible)
        for i in range(accessible.get_child_count()):
            nodes(accessible.get_child_at_index(i), out)
    except gi.repository.GLib.Error:
        pass
    return out


def describe(node):
    interfaces = node.get_interfaces()
    item = {"role": node.get_role_name(), "name": node.get_name(), "value": None, "actions": []}
    if "Value" in interfaces:
        item["value"] = Atspi.Value.get_current_value(node)
    if "Action" in interfaces:
        item["actions"] = [Atspi.Action.get_action_name(node, i) for i in range(Atspi.Action.get_n_actions(node))]
    return item


def main():
    pid = int(sys.argv[1])
    target = sys.argv[3] if len(sys.argv) > 3 and sys.argv[2] == "--do" else None
    app = application(pid)
    if app is None:
        sys.exit("no accessible application with process id %d" % pid)
    for node in nodes(app, []):
        item = describe(node)
        print(json.dumps(item, ensure_ascii=False), flush=True)
        if target is not None and item["name"] == target and item["actions"]:
            Atspi.Action.do_action(node, 0)
            target = None
    if target is not None:
        sys.exit("no node named %s with an action" % target)


if __name__ == "__main__":
    main()
