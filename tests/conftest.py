"""Fixtures for the module's environment switches and for the files it reads its memory
limits from."""

import pytest

from strategies import environment


@pytest.fixture
def env():
    """The environment context manager: `with env(VORN_RUST_NATIVE_CELL_TYPE="int16"): ...`
    sets the variables (each value through str) for the block and restores every one after.
    Hypothesis tests import `strategies.environment` instead, as their functions take no
    function-scoped fixtures."""
    return environment


@pytest.fixture
def fake_root(tmp_path):
    """Builds a stand-in for /proc and /sys in the test's temporary directory and returns its
    path, for VORN_RUST_NATIVE_MEMORY_ROOT: meminfo (`available_kb`), and the process's
    cgroup with its limit files, v2 (`cgroup=(limit, used)`) or v1 (`cgroup_v1=...`)."""
    def build(*, available_kb=64 << 20, cgroup=None, cgroup_v1=None):
        (tmp_path / "proc" / "self").mkdir(parents=True)
        (tmp_path / "proc" / "meminfo").write_text(
            f"MemTotal: {128 << 20} kB\nMemFree: 1000 kB\nMemAvailable: {available_kb} kB\nSwapFree: 0 kB\n")
        (tmp_path / "proc" / "self" / "statm").write_text("1000 100 10 10 0 500 0\n")
        lines = []
        if cgroup is not None:
            limit, used = cgroup
            d = tmp_path / "sys" / "fs" / "cgroup" / "job" / "step"
            d.mkdir(parents=True)
            (d / "memory.max").write_text(f"{limit}\n")
            (d / "memory.current").write_text(f"{used}\n")
            (d.parent / "memory.max").write_text("max\n")
            lines.append("0::/job/step")
        if cgroup_v1 is not None:
            limit, used = cgroup_v1
            d = tmp_path / "sys" / "fs" / "cgroup" / "memory" / "job"
            d.mkdir(parents=True)
            (d / "memory.limit_in_bytes").write_text(f"{limit}\n")
            (d / "memory.usage_in_bytes").write_text(f"{used}\n")
            lines.append("4:cpu,memory:/job")
        (tmp_path / "proc" / "self" / "cgroup").write_text("\n".join(lines) + "\n")
        return str(tmp_path)
    return build
