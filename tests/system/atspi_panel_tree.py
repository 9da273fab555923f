#!/usr/bin/python3
"""The running veloxa2-gui as the accessibility bus shows it, for test_atspi.

  panel_tree.py tree            one JSON line per object: role, name, description
  panel_tree.py watch SECONDS   a line {"watching": true}, then one JSON line per
                                description change of one of the panel's objects
"""
import json
import sys
import time

import pyatspi
from gi.repository import GLib

PROGRAM = 'veloxa2-gui'


def find_panel(seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for application in pyatspi.Registry.getDesktop(0):
            if application is not None and application.name == PROGRAM:
                return application
        time.sleep(0.2)
    return None


def walk(node, lines):
    lines.append({'role': node.getRoleName(), 'name': node.name, 'description': node.description})
    for child in node:
        if child is not None:
            walk(child, lines)


def main():
    panel = find_panel(20)
    if panel is None:
        print(json.dumps({'error': 'no %s on the accessibility bus' % PROGRAM}), flush=True)
        return 1
    if sys.argv[1] == 'tree':
        lines = []
        for child in panel:
            walk(child, lines)
        for line in lines:
            print(json.dumps(line), flush=True)
        return 0

    def changed(event):
        if event.host_application is not None and event.host_application.name == PROGRAM:
            print(json.dumps({'name': event.source.name, 'description': event.source.description}), flush=True)

    pyatspi.Registry.registerEventListener(changed, 'object:property-change:accessible-description')
    print(json.dumps({'watching': True}), flush=True)
    GLib.timeout_add(int(float(sys.argv[2]) * 1000), pyatspi.Registry.stop)
    pyatspi.Registry.start()
    return 0


if __name__ == '__main__':
    sys.exit(main())
