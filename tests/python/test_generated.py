"""The package's functions are a real, checked-in module generated from the
catalogue: it is current (regenerating it changes nothing), and what a
static tool reads from it (no import, no exec) is every function of the
catalogue with its parameters, as a module function and as a Session
method."""

import ast
import pathlib
import runpy
import types

import mvts

ROOT = pathlib.Path(__file__).resolve().parents[2]
GENERATED = ROOT / "python" / "mvts" / "_functions.py"


def generator():
    return types.SimpleNamespace(
        **runpy.run_path(str(ROOT / "tools" / "make_python_functions.py"), run_name="generator"))


def test_the_checked_in_module_is_what_the_catalogue_gives():
    made = generator().source(mvts.catalog())
    assert made == GENERATED.read_text(encoding="utf-8"), (
        "python/mvts/_functions.py is stale: run PYTHONPATH=build/python:python "
        "/usr/bin/python3 tools/make_python_functions.py")


def test_a_changed_catalogue_changes_the_module():
    # the check above can fail: a renamed input or another summary shows
    catalog = [list(entry) for entry in mvts.catalog()]
    made = generator().source([tuple(e) for e in catalog])
    name, summary, inputs, outputs = catalog[0]
    renamed = [(name, summary, [("renamed",) + tuple(inputs[0][1:])] + list(inputs[1:]), outputs)]
    assert generator().source([tuple(e) for e in renamed + catalog[1:]]) != made


def test_static_tools_read_every_function_and_method():
    tree = ast.parse(GENERATED.read_text(encoding="utf-8"))
    functions = {n.name: n for n in tree.body if isinstance(n, ast.FunctionDef)}
    methods_class = next(n for n in tree.body
                         if isinstance(n, ast.ClassDef) and n.name == "SessionFunctions")
    methods = {n.name: n for n in methods_class.body if isinstance(n, ast.FunctionDef)}
    for name, _, inputs, outputs in mvts.catalog():
        expected = [i[0] for i in inputs]
        fn, method = functions[name.lower()], methods[name.lower()]
        assert [a.arg for a in fn.args.args] == expected
        assert [a.arg for a in method.args.args] == ["self"] + expected
        assert ast.get_docstring(fn) == ast.get_docstring(method)
        assert f"({name})" in ast.get_docstring(fn)
    init = (ROOT / "python" / "mvts" / "__init__.py").read_text(encoding="utf-8")
    assert "exec(" not in init
