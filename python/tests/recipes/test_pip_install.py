import os
import subprocess
import sys

from conftest import SOURCE


def test_pip_installs_a_working_module_offline(tmp_path):
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True)
    python = venv / "bin/python"
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    env["PIP_NO_INDEX"] = "1"
    install = subprocess.run(
        [str(python), "-m", "pip", "install", "--no-build-isolation", str(SOURCE / "python")],
        env=env, capture_output=True, text=True)
    assert install.returncode == 0, install.stdout[-3000:] + install.stderr[-3000:]
    check = ("import orbel, sys; c = orbel.read_file(sys.argv[1])[0]; "
             "print(orbel.__file__, orbel.__version__, c.text, sep='|')")
    run = subprocess.run([str(python), "-c", check, str(SOURCE / "examples/sample.png")], env=env, cwd=tmp_path,
                         capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    where, version, text = run.stdout.strip().split("|")
    assert where.startswith(str(venv)) and text == "Hello, ScanBench!"
    assert f"VERSION {version} " in (SOURCE / "CMakeLists.txt").read_text()
