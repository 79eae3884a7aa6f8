"""Options and shared fixtures of the checks that drive real programs: Ardour rendering through
the plug-in (test_ardour_render.py) and the Windows editor under wine (test_wine_editor.py).
Run them through scripts/check-ardour-render and scripts/test-wine-editor."""
import os
import shutil
import tempfile
from pathlib import Path

import pytest


def pytest_addoption(parser):
    group = parser.getgroup('quillantrope')
    group.addoption('--build-dir', help='a Linux build folder (plug-in, quillantrope-render)')
    group.addoption('--programs', default='0 15',
                    help='factory programs the Ardour render checks (default "0 15")')
    group.addoption('--tempo', type=float, default=None,
                    help="Ardour's session tempo (default: the new session's own)")
    group.addoption('--tolerance', type=float, default=1e-6,
                    help='largest absolute sample difference accepted (default 1e-6)')
    group.addoption('--win32', help='a 32-bit Windows build folder')
    group.addoption('--win64', help='a 64-bit Windows build folder')
    group.addoption('--linux', help="a Linux build whose editor picture the Windows ones match")
    group.addoption('--keep', action='store_true', help='keep the work folders')


def pytest_generate_tests(metafunc):
    if 'program' in metafunc.fixturenames:
        programs = []
        for word in metafunc.config.getoption('programs').split():
            if not word.isdigit() or int(word) >= 40:
                raise pytest.UsageError(f"program '{word}' is not a number 0..39")
            programs.append(int(word))
        metafunc.parametrize('program', programs, ids=lambda p: f'program{p}')


_figures = []


@pytest.fixture(scope='session')
def report():
    """Lines for the run's summary: what was compared, the figures, the tools' versions."""
    return _figures.append


def pytest_terminal_summary(terminalreporter):
    if _figures:
        terminalreporter.section('figures')
        for line in _figures:
            terminalreporter.write_line(line)


@pytest.fixture(scope='session')
def record_skip():
    """Notes a check that could not run here for the test command, which fails a CI run on it
    unless it is allowed, then skips."""
    def skip(name, reason):
        log = os.environ.get('QL_SKIP_LOG')
        if log:
            with open(log, 'a') as f:
                f.write(f'{name}: {reason}\n')
        pytest.skip(reason)
    return skip


@pytest.fixture(scope='session')
def workdir(request):
    """A temporary folder for the run; kept with --keep or after a failure."""
    path = Path(tempfile.mkdtemp(prefix='ql-checks.'))
    yield path
    failed = request.session.testsfailed > 0
    if request.config.getoption('keep') or failed:
        _figures.append(f'work folder kept: {path}')
    else:
        shutil.rmtree(path, ignore_errors=True)
