"""The package as a data scientist meets it: every public name documented
(numpydoc: what a call returns), one parameter order, a readable repr, the
docs' code clean under mypy --strict, and no pandas needed."""
import inspect
import os
import re
import shutil
import subprocess
import sys

import numpy as np
import pytest

import corvel


def public_names():
    for name in corvel.__all__:
        thing = getattr(corvel, name)
        yield name, thing
        if inspect.isclass(thing) and not issubclass(thing, Warning):
            for member, value in vars(thing).items():
                if not member.startswith("_") and (callable(value) or isinstance(value, property)):
                    yield name + "." + member, value


@pytest.mark.parametrize("name, thing", list(public_names()), ids=lambda x: x if isinstance(x, str) else "")
def test_every_public_name_says_what_it_is_and_what_a_call_returns(name, thing):
    doc = inspect.getdoc(thing)
    assert doc and len(doc) >= 12, name + " has no docstring"
    if inspect.isfunction(thing) and inspect.signature(thing).return_annotation not in (None, "None"):
        assert re.search(r"^Returns\n-------$", doc, re.M), name + " does not say what it returns"
    if inspect.isfunction(thing) and len(inspect.signature(thing).parameters) > 1:
        assert re.search(r"^Parameters\n----------$", doc, re.M), name + " does not list its parameters"


def test_one_parameter_order_across_the_package():
    def leading(call, n):
        return list(inspect.signature(call).parameters)[:n]
    assert leading(corvel.estimate, 4) == ["u", "dt", "gain", "order"]
    assert leading(corvel.Differentiator, 3) == ["dt", "gain", "order"]
    assert leading(corvel.tune, 2) == ["u", "dt"]
    u = np.sin(np.arange(500) * 0.01)
    by_place = corvel.Differentiator(0.01, 30, 2).update(u).derivatives
    by_name = corvel.Differentiator(gain=30, order=2, dt=0.01).update(u).derivatives
    assert np.array_equal(by_place, by_name)
    assert np.array_equal(corvel.estimate(u, 0.01, 30, 2).derivatives, by_place)


def test_each_object_says_what_it_holds():
    d = corvel.Differentiator(0.001, gain=[30, 40], order=2, channels=2)
    d.update(np.zeros((7, 2)))
    assert repr(d) == "Differentiator(dt=0.001, gain=(30.0, 40.0), order=2, channels=2, missing='keep'; 7 samples done)"
    s = corvel.signal("sine", duration=1.0, dt=0.01)
    assert repr(s) == "Signal(101 samples every 0.01 s, with its value and 10 derivatives in truth)"
    assert repr(corvel.estimate(s.u, 0.01, 30, 2)) == "Estimates(101 samples, signal (101,), derivatives (101, 2))"
    choice = corvel.tune(np.column_stack([s.u, 2 * s.u]), 0.01, orders=range(1, 3))
    assert re.fullmatch(r"Tuning\(order=\d, gain=[\d.e+-]+, 2 orders, \d+ block runs, 2 channels\)", repr(choice))


def test_the_package_runs_without_pandas_and_imports_it_only_when_asked():
    program = ("import sys; sys.modules['pandas'] = None\n"
               "import numpy as np, corvel\n"
               "est = corvel.estimate(np.sin(np.arange(300) * 0.01), 0.01, 30, 2)\n"
               "try:\n    est.to_frame()\nexcept ImportError as e:\n    print('refused:', e)\n")
    done = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, check=True)
    assert done.stdout.strip() == "refused: corvel: a DataFrame needs pandas (Debian: python3-pandas)"
    quiet = subprocess.run([sys.executable, "-c", "import sys, numpy, corvel; corvel.estimate(numpy.ones(9), 0.1);"
                            "print('pandas' in sys.modules)"], capture_output=True, text=True, check=True)
    assert quiet.stdout.strip() == "False"


def test_the_docs_code_is_clean_under_mypy_strict(tmp_path):
    page = os.environ.get("CORVEL_PYTHON_PAGE")
    if not page:
        pytest.skip("CORVEL_PYTHON_PAGE names no page")
    if shutil.which("mypy") is None:
        pytest.skip("no mypy (Debian: mypy)")
    blocks = re.findall(r"```python\n(.*?)```", open(page).read(), re.S)
    (tmp_path / "page.py").write_text("\n".join(blocks))
    package = os.path.dirname(os.path.dirname(corvel.__file__))
    # The package itself strict whole; the page strict but for calls into
    # libraries that ship no types (Dask's).
    for checked in (["--strict", os.path.join(package, "corvel")],
                    ["--strict", "--allow-untyped-calls", str(tmp_path / "page.py")]):
        done = subprocess.run(["mypy", "--ignore-missing-imports", "--no-incremental",
                               "--cache-dir", str(tmp_path / "cache")] + checked,
                              capture_output=True, text=True, env=dict(os.environ, MYPYPATH=package))
        assert done.returncode == 0, done.stdout + done.stderr


def test_outputs_left_out_are_never_made_and_the_rest_keep_their_bits():
    import tracemalloc
    u = np.sin(np.arange(200_000) * 0.001)
    whole = corvel.estimate(u, 0.001, 30, 3)
    tracemalloc.start()
    try:
        only = corvel.estimate(u, 0.001, 30, 3, outputs=["derivatives"])
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert only.t is None and only.u is None and only.error is None and only.signal is None
    assert np.array_equal(only.derivatives.view(np.uint64), whole.derivatives.view(np.uint64))
    assert peak < only.derivatives.nbytes * 1.1  # nothing made but the derivatives
    assert repr(only) == "Estimates(200000 samples, derivatives (200000, 3))"
    two = corvel.estimate(np.column_stack([u, u]), 0.001, 30, 2, outputs=("t", "signal"), axis=0)
    assert two.derivatives is None and two.signal.shape == (200_000, 2)
    across = corvel.estimate(np.vstack([u, u]), 0.001, 30, 2, outputs="signal", axis=1)
    assert across.signal.shape == (2, 200_000) and np.array_equal(across.signal.T, two.signal)
    with pytest.raises(ValueError, match="outputs: 'z0' is none of t, u, error, signal, derivatives"):
        corvel.estimate(u, 0.001, outputs=["z0"])
