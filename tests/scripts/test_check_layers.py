#!/usr/bin/env python3
"""scripts/check-layers over small source trees: a clean one passes; an include or a link that
reaches up, a core file that includes a front end, a folder without a layer and a cycle fail with
a message that names the file, the include and both layers.
"""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check-layers")

# A tree whose every include goes down: the front end over its folder and a lower front end,
# a relative include within a folder, a generated header, the program over everything.
CLEAN = {
    "src/log/Log.h": "#pragma once\n",
    "src/os/Files.h": '#pragma once\n#include "log/Log.h"\n',
    "src/core/Layout.h": '#pragma once\n#include "os/Files.h"\n#include "Identity.h"\n',
    "src/core/Layout.cpp": '#include "Layout.h"\n',
    "src/update/Worker.h": '#pragma once\n#include "core/Layout.h"\n',
    "src/ui/Dialog.h": '#pragma once\n#include "update/Worker.h"\n',
    "src/controls/Button.h": "#pragma once\n",
    "src/controls/gtk/ButtonWidget.h": '#pragma once\n#include "controls/Button.h"\n',
    "src/ui/gtk/View.cpp": ('#include "ui/Dialog.h"\n#include "controls/gtk/ButtonWidget.h"\n'
                            '#include "os/Files.h"\n'),
    "src/app/App.cpp": '#include "ui/Dialog.h"\n',
    "src/main.cpp": '#include "app/App.h"\n#include "ui/gtk/View.h"\n',
    "src/app/App.h": "#pragma once\n",
    "src/ui/gtk/View.h": "#pragma once\n",
    "src/core/CMakeLists.txt": "vl_folder_library(vl_core LINKS vl_os vl_identity)\n",
    "src/update/CMakeLists.txt": "set(links vl_core)\nvl_folder_library(vl_update LINKS ${links})\n",
}


def run(tree):
    with tempfile.TemporaryDirectory() as root:
        for name, text in tree.items():
            path = os.path.join(root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as out:
                out.write(text)
        result = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)
        return result.returncode, result.stderr


class CheckLayers(unittest.TestCase):
    def test_clean_tree_passes(self):
        code, errors = run(CLEAN)
        self.assertEqual((code, errors), (0, ""))

    def test_reaching_up_fails_naming_file_include_and_layers(self):
        cases = [
            ("lower layer includes a higher one",
             {"src/core/Layout.cpp": '#include "Layout.h"\n#include "update/Worker.h"\n'},
             'src/core/Layout.cpp:2: includes "update/Worker.h": layer core may not include layer update'),
            ("core includes its own front end through a relative path",
             {"src/ui/Dialog.cpp": '#include "gtk/View.h"\n'},
             'src/ui/Dialog.cpp:1: includes "gtk/View.h": layer ui may not include layer ui/gtk'),
            ("program's layer below a front end",
             {"src/app/App.cpp": '#include "controls/gtk/ButtonWidget.h"\n'},
             'src/app/App.cpp:1: includes "controls/gtk/ButtonWidget.h": layer app may not include '
             'layer controls/gtk'),
            ("lower front end includes a higher one",
             {"src/controls/gtk/ButtonWidget.cpp": '#include "ui/gtk/View.h"\n'},
             'layer controls/gtk (the gtk front end of controls) may not include layer ui/gtk'),
            ("one platform's front end includes another's",
             {"src/ui/win32/View.h": "#pragma once\n", "src/ui/gtk/View.cpp": '#include "ui/win32/View.h"\n'},
             'src/ui/gtk/View.cpp:1: includes "ui/win32/View.h"'),
            ("library links a higher one",
             {"src/core/CMakeLists.txt": "vl_folder_library(vl_core LINKS vl_os vl_update)\n"},
             "src/core/CMakeLists.txt: links vl_update: layer core may not use layer update"),
            ("folder without a layer",
             {"src/extras/Thing.cpp": '#include "core/Layout.h"\n'},
             "src/extras/Thing.cpp: folder extras has no place in the layer order"),
        ]
        for name, change, message in cases:
            with self.subTest(name):
                code, errors = run({**CLEAN, **change})
                self.assertEqual(code, 1)
                self.assertIn(message, errors)

    def test_cycle_fails(self):
        code, errors = run({**CLEAN, "src/os/Files.cpp": '#include "core/Layout.h"\n'})
        self.assertEqual(code, 1)
        self.assertIn("include cycle core -> os -> core", errors)
        self.assertIn('src/os/Files.cpp:1: includes "core/Layout.h": layer os may not include layer core', errors)


if __name__ == "__main__":
    unittest.main()
