"""The LV2 bundle as Debian's LV2 tools and hosts see it: the Turtle valid against the LV2
schemas, lv2info's ports, UI and presets, jalv on a dummy JACK server listing the presets, and
the editor embedded in jalv.gtk3 on a virtual display. Run through scripts/check-lv2."""
import os
import re
import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest

import probes

URI = 'https://quillantrope.audio/lv2/quillantrope'
SPECS = ['schemas', 'core', 'atom', 'options', 'ui', 'units', 'state', 'presets', 'urid',
         'worker', 'time', 'resize-port', 'buf-size', 'parameters', 'port-groups', 'port-props',
         'patch', 'midi', 'data-access', 'instance-access']


@pytest.fixture(scope='module')
def bundle(request, workdir):
    value = request.config.getoption('build_dir')
    if not value:
        pytest.skip('no --build-dir given')
    source = Path(value).resolve() / 'Quillantrope.lv2'
    assert (source / 'manifest.ttl').exists(), f'{source} is no built bundle'
    # A search path holding this bundle alone.
    folder = workdir / 'lv2'
    folder.mkdir(exist_ok=True)
    shutil.copytree(source, folder / source.name, dirs_exist_ok=True)
    return folder / source.name


def needs(record_skip, *tools):
    for tool in tools:
        if not shutil.which(tool):
            record_skip(f'lv2-{tool}', f'{tool} is not installed (scripts/bootstrap test)')


def lv2_env(bundle, **extra):
    return dict(os.environ, LV2_PATH=str(bundle.parent), **extra)


def test_the_turtle_is_valid_against_the_lv2_schemas(bundle, record_skip, report):
    needs(record_skip, 'sord_validate')
    specs = sorted(str(p) for s in SPECS for p in Path(f'/usr/lib/lv2/{s}.lv2').glob('*.ttl'))
    assert specs, 'no LV2 specifications in /usr/lib/lv2 (package lv2-dev)'

    def errors(files):
        run = subprocess.run(['sord_validate', *files], capture_output=True, text=True)
        found = re.search(r'Found (\d+) errors', run.stdout + run.stderr)
        return (int(found.group(1)) if found else 0), run.stdout + run.stderr

    # Debian's specifications alone have errors of their own (midi.ttl's); ours add none.
    base, _ = errors(specs)
    ours, text = errors(specs + sorted(str(p) for p in bundle.glob('*.ttl')))
    report(f'lv2: sord_validate: the bundle adds {ours - base} errors to the specifications\' '
           f'{base}')
    assert ours == base, text


def test_lv2info_shows_the_ports_the_ui_and_the_presets(bundle, record_skip, report):
    needs(record_skip, 'lv2info')
    run = subprocess.run(['lv2info', URI], capture_output=True, text=True, env=lv2_env(bundle))
    assert run.returncode == 0, run.stderr
    ports = re.findall(r'Port (\d+):\s*\n((?:\t\t.*\n)+)', run.stdout)
    kinds = {}
    for _, body in ports:
        classes = re.search(r'Type:\s+(.*(?:\n\t\t\s{10,}.*)*)', body).group(1)
        direction = 'in' if 'InputPort' in classes else 'out'
        kind = next(k for k in ('Audio', 'Control', 'Atom') if f'#{k}Port' in classes)
        kinds[(kind, direction)] = kinds.get((kind, direction), 0) + 1
    presets = re.search(r'Presets:\s*\n((?:\t\s+.*\n)*)', run.stdout + '\n')
    names = [line.strip() for line in presets.group(1).splitlines()] if presets else []
    report(f'lv2: lv2info: ports {sorted(kinds.items())}, {len(names)} presets')
    assert kinds == {('Audio', 'in'): 2, ('Audio', 'out'): 2, ('Atom', 'in'): 1,
                     ('Control', 'in'): 40}
    assert len(names) == 40 and 'INSERT Stereo 3/5/16 DUCKER' in names
    assert 'ui#X11UI' in run.stdout and 'urid#map' in run.stdout


class Jack:
    """A dummy JACK server of its own name, for the time of a test."""

    def __init__(self, workdir):
        self.name = f'ql-{os.getpid()}'
        self.log = open(workdir / 'jackd.log', 'w')
        self.process = subprocess.Popen(['jackd', '-n', self.name, '-d', 'dummy', '-r', '48000',
                                         '-p', '1024'], stdout=self.log,
                                        stderr=subprocess.STDOUT)
        time.sleep(1.0)

    def close(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
        self.log.close()


@pytest.fixture
def jack(workdir, record_skip):
    needs(record_skip, 'jackd', 'jalv')
    server = Jack(workdir)
    yield server
    server.close()


def test_jalv_loads_it_and_lists_the_presets(bundle, jack, report):
    run = subprocess.run(['jalv', URI], input='presets\ncontrols\n', capture_output=True,
                         text=True, timeout=30,
                         env=lv2_env(bundle, JACK_DEFAULT_SERVER=jack.name))
    presets = re.findall(re.escape(URI) + r'#program(\d+) \((.*)\)', run.stdout)
    controls = re.findall(r'^(?:> )?([A-Za-z]+) = ([0-9.]+)$', run.stdout, re.M)
    report(f'lv2: jalv on a dummy JACK server: {len(presets)} presets, {len(controls)} control '
           f'values printed')
    assert sorted(int(n) for n, _ in presets) == list(range(40)), run.stdout + run.stderr
    assert ('5', 'INSERT Mono 2/16') not in presets and ('17', 'INSERT Mono 2/16') in presets
    assert len(controls) >= 40


def test_jalv_gtk3_embeds_the_editor(bundle, jack, workdir, record_skip, report):
    needs(record_skip, 'jalv.gtk3', 'xvfb-run', 'xwininfo', 'import', 'convert')
    shot = workdir / 'jalv-gtk3.png'
    editor = workdir / 'editor.png'
    script = workdir / 'ui.sh'
    # jalv.gtk3 shows the UI; once it is up, the window tree and a picture of the screen.
    script.write_text(f'''set -e
jalv.gtk3 {URI} >{workdir}/jalv-gtk3.log 2>&1 &
pid=$!
for i in $(seq 100); do
  xwininfo -root -tree | grep -q ' 600x369+' && break
  sleep 0.1
done
sleep 1
xwininfo -root -tree >{workdir}/tree.txt
import -window root {shot}
kill $pid
wait $pid || true
''')
    subprocess.run(['xvfb-run', '-a', '-s', '-screen 0 1280x1024x24 -nolisten tcp', 'sh',
                    script], timeout=60, check=True,
                   env=lv2_env(bundle, JACK_DEFAULT_SERVER=jack.name))
    tree = (workdir / 'tree.txt').read_text()
    # The editor's window: the innermost of 600 x 369, inside jalv's, made by another client
    # (the editor's own connection) than jalv's top-level window.
    windows = re.findall(r'^(\s+)(0x[0-9a-f]+) [^\n]*\) +(\d+)x(\d+)\+-?\d+\+-?\d+ +\+(-?\d+)\+(-?\d+)$',
                         tree, re.M)
    top = min(len(w[0]) for w in windows)
    sized = [w for w in windows if (w[2], w[3]) == ('600', '369')]
    assert sized, f'no 600 x 369 window in the tree:\n{tree}'
    depth, wid, _, _, x, y = max(sized, key=lambda w: len(w[0]))
    owner = next(w[1] for w in windows if len(w[0]) == top and w[2] != '1')
    x, y = int(x), int(y)
    assert len(depth) > top and int(wid, 16) >> 21 != int(owner, 16) >> 21, \
        f'the editor is not embedded in jalv.gtk3\'s window:\n{tree}'
    subprocess.run(['convert', shot, '-crop', f'600x369+{x}+{y}', '+repage', editor],
                   check=True)
    rgb = subprocess.run(['convert', editor, '-depth', '8', 'rgb:-'], check=True,
                         capture_output=True).stdout
    picture = probes.Picture(rgb, 600, 369)
    wrong = [p.label for p in probes.load().points if not p.holds(picture)]
    report(f'lv2: jalv.gtk3 embeds the editor at +{x}+{y}, 600 x 369; picture {shot}')
    assert not wrong, f'the embedded editor does not look like the panel ({editor}): {wrong}'
