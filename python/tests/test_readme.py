"""The Python page (docs/python.md) runs as written: its code blocks in
order, in an empty folder with a few recordings, the Dask example on a
LocalCluster of worker processes, each of whose results equals a serial run."""
import os
import re

import numpy as np
import pytest

import corvel


def python_blocks(page):
    return re.findall(r"```python\n(.*?)```", open(page).read(), re.S)


def test_the_readmes_python_section_runs_as_written(tmp_path, monkeypatch):
    readme = os.environ.get("CORVEL_PYTHON_PAGE")
    if not readme:
        pytest.skip("CORVEL_PYTHON_PAGE names no page")
    blocks = python_blocks(readme)
    assert len(blocks) == 9
    monkeypatch.chdir(tmp_path)
    os.mkdir("recordings")
    for i in range(6):
        t = 1.0 + np.arange(2000) * 0.001
        np.savetxt("recordings/run%d.csv" % i, np.column_stack([t, np.sin((i + 1) * t)]), delimiter=",",
                   header="t,u", comments="", fmt="%.17g")

    namespace = {"__name__": "__main__"}
    for block in blocks:
        exec(compile(block, "docs/python.md", "exec"), namespace)

    assert namespace["velocity"].shape == (5001,)
    assert namespace["said"][0].category is corvel.GainWarning
    assert len(namespace["velocity_series"]) == 5001
    assert [len(v) for v in namespace["velocities"]] == [5001] * 4
    assert list(namespace["table"].columns) == ["u", "signal", "error", "d1", "d2"]
    assert 1 <= namespace["choice"].order <= 3
    assert os.path.getsize("python-velocity.png") > 10000
    results = namespace["results"]
    assert [path for path, _ in results] == sorted("recordings/run%d.csv" % i for i in range(6))
    for path, rms in results:  # each worker's result is the serial run's, to the bit
        assert rms == namespace["velocity_rms"](path)[1]
