"""The plug-in inside a real host: Ardour renders a stereo click track through it, and the result
must match quillantrope-render's render of the same input through the VST 2 build sample for
sample, whichever plug-in type Ardour ran.

A new 44100 Hz session gets one stereo track holding the input as a region, the plug-in as a
pre-fader insert with a factory program loaded as Ardour's preset, and the track is rendered with
Track:bounce_range (the master-bus export is unreliable without a display). The reference renders
at the tempo Ardour reports. Each plug-in type (ardour.KINDS) runs the same steps, and then saves
the session with the plug-in on the track and reloads it in a new Ardour process."""
import shutil
import subprocess
from dataclasses import dataclass, field
from pathlib import Path

import pytest

import ardour
import wavfile

RATE = 44100
INPUT_FRAMES = 3 * RATE
TAIL_SECONDS = 4
TOTAL_FRAMES = INPUT_FRAMES + TAIL_SECONDS * RATE
REGION_FADE = 64  # Ardour's default region fade length, in samples


def make_input(work: Path) -> Path:
    """Stereo percussive hits, silent at both ends (so the region fades touch no sound)."""
    fmt = ['-r', str(RATE), '-b', '32', '-e', 'floating-point', '-c', '1']

    def sox(*args):
        subprocess.run(['sox', '-R', '-V1', *map(str, args)], check=True)

    # NAME LENGTH WAVE PITCH FADE-OUT START: one decaying hit, START seconds into its file.
    for name, length, wave, pitch, fade, start in [('h1', 0.15, 'pluck', 'A4', 0.14, 0.10),
                                                   ('h2', 0.03, 'sine', 1800, 0.029, 1.05),
                                                   ('h3', 0.05, 'square', 600, 0.049, 0.55),
                                                   ('h4', 0.15, 'pluck', 'E5', 0.14, 1.55)]:
        sox('-n', *fmt, work / f'{name}.wav', 'synth', length, wave, pitch, 'fade', 'q', 0.001,
            length, fade, 'pad', start)
    for side, (a, va), (b, vb) in [('left', ('h1', 0.8), ('h2', 0.5)),
                                   ('right', ('h3', 0.4), ('h4', 0.8))]:
        sox('-m', '-v', va, work / f'{a}.wav', '-v', vb, work / f'{b}.wav', *fmt,
            work / f'{side}.wav', 'pad', 0, 3, 'trim', 0, f'{INPUT_FRAMES}s')
    sox('-M', work / 'left.wav', work / 'right.wav', '-r', RATE, '-b', 32, '-e', 'floating-point',
        work / 'input.wav')
    return work / 'input.wav'


def place_input(source: Path, targets: list[str]):
    """Writes the input's two channels over the session's per-channel source files."""
    rate, count, s = wavfile.read(source)
    if count != 2 or len(s) != 2 * INPUT_FRAMES:
        raise wavfile.WavError(f'{source}: {count} channels of {len(s) // count} frames, '
                               f'expected 2 of {INPUT_FRAMES}')
    for c, target in enumerate(targets):
        samples = s[c::2]
        edges = samples[:REGION_FADE] + samples[-REGION_FADE:]
        assert all(x == 0.0 for x in edges), \
            f'{source}: sound within {REGION_FADE} samples of an end, where region fades act'
        wavfile.write_mono(Path(target), rate, samples)


@dataclass
class Bounce:
    """What one Ardour session rendered through one plug-in type, and the references."""
    kind: ardour.PluginKind
    session: Path
    tempo: str  # as Ardour printed it, so the reference gets the very same value
    outputs: dict = field(default_factory=dict)    # program: [left, right]
    reference: dict = field(default_factory=dict)  # program: the render at Ardour's tempo
    control: dict = field(default_factory=dict)    # program: the render 1 BPM faster


@pytest.fixture(scope='module')
def build(request):
    value = request.config.getoption('build_dir')
    if not value:
        pytest.skip('no --build-dir given')
    build = Path(value).resolve()
    for name in ('quillantrope-render',) + tuple(k.module for k in ardour.KINDS):
        assert (build / name).exists(), f'{build / name} not found'
    return build


@pytest.fixture(scope='module')
def host(workdir, record_skip):
    found = ardour.find_ardour()
    if not found:
        record_skip('ardour', 'no ardourN-lua with its VST scanner (package ardour)')
    for tool in ('sox',):
        assert shutil.which(tool), f'needs {tool}'
    return ardour.Ardour(workdir / 'ardour', *found)


@pytest.fixture(scope='module', params=ardour.KINDS, ids=lambda k: k.key)
def bounce(request, build, host, workdir, report):
    """One session per plug-in type: set up, bounced once per program, rendered for reference."""
    kind = request.param
    config = request.config
    programs = [int(p) for p in config.getoption('programs').split()]
    work = workdir / kind.key
    work.mkdir()
    host.install(kind, build / kind.module)
    source = make_input(work)

    session = work / 'session'
    setup = host.run('setup', session, RATE, INPUT_FRAMES)
    sources = [words[1] for words in ardour.lines_of(setup, 'SOURCE')]
    assert len(sources) == 2, 'the setup named no source files'
    place_input(source, sources)
    shutil.rmtree(session / 'peaks', ignore_errors=True)

    tempo = config.getoption('tempo') or kind.tempo
    out = host.run('bounce', session, TOTAL_FRAMES, '-' if tempo is None else tempo, kind.name,
                   kind.ardour_type, kind.preset_pattern, *programs)
    (session_tempo, note_type), = ardour.lines_of(out, 'TEMPO')
    assert note_type == '4', f'tempo in 1/{note_type} notes'
    (rate, _, block), = ardour.lines_of(out, 'RATE')
    result = Bounce(kind, session, session_tempo)
    report(f'{kind.key}: {host.tool.name} on the dummy backend: {rate} Hz, process block {block}, '
           f'tempo {session_tempo} BPM, bounce of {TOTAL_FRAMES} frames '
           f'({INPUT_FRAMES // RATE} s input + {TAIL_SECONDS} s tail)')
    for words in ardour.lines_of(out, 'PROGRAM'):
        report(f'  {kind.key} program {words[0]}: preset "{" ".join(words[4:])}", '
               f'plug-in latency {words[2]}')
    files = {}
    for program, channel, path in ardour.lines_of(out, 'OUTPUT'):
        files.setdefault(int(program), {})[int(channel)] = path
    for p in programs:
        assert sorted(files.get(p, {})) == [0, 1], f'no stereo bounce for program {p}'
        result.outputs[p] = [wavfile.channels(files[p][c], 1)[0] for c in (0, 1)]

    # The oracle of every plug-in type: the VST 2 build.
    oracle = build / ardour.VST2.module

    def render(program, tempo, name):
        target = work / f'{name}-{program}.wav'
        run = subprocess.run([build / 'quillantrope-render', source, '-o', target, '--program',
                              str(program), '--tempo', tempo, '--tail', str(TAIL_SECONDS),
                              '--plugin', oracle, '--quiet'], capture_output=True, text=True)
        assert run.returncode == 0, f'quillantrope-render failed:\n{run.stdout}{run.stderr}'
        return wavfile.channels(target, 2)

    for p in programs:
        result.reference[p] = render(p, result.tempo, 'reference')
        # The same render 1 BPM faster: proof that the comparison would notice a wrong tempo.
        result.control[p] = render(p, repr(float(result.tempo) + 1), 'control')
    return result


def test_ardour_renders_like_quillantrope_render(bounce, program, report, request):
    tolerance = request.config.getoption('tolerance')
    ardour_out, ref = bounce.outputs[program], bounce.reference[program]
    name = f'{bounce.kind.key} program {program}'
    assert len(ardour_out[0]) == len(ref[0]), \
        f'{name}: Ardour rendered {len(ardour_out[0])} frames, the reference {len(ref[0])}'
    diff, compared = wavfile.max_diff(ardour_out, ref)
    report(f'  {name}: {compared} samples compared ({compared // 2} frames x 2) at offset 0, '
           f'max |difference| {diff:.3g}' + (' (bit-identical)' if diff == 0.0 else ''))
    if diff > tolerance:
        # A host delay (latency, a block boundary) would move the first sound by as much.
        shift = wavfile.onset(ardour_out) - wavfile.onset(ref)
        aligned = wavfile.max_diff(ardour_out, ref, shift)[0] if shift else diff
        if shift and aligned <= tolerance:
            why = (f"Ardour's output is {shift} frames late and matches once aligned (max "
                   f'|difference| {aligned:.3g}); the plug-in reports no latency, so no offset '
                   f'is expected')
        else:
            why = (f'no alignment explains it (first sound {shift} frames apart, max '
                   f'|difference| {aligned:.3g} when aligned so)')
        pytest.fail(f'{name}: max |difference| {diff:.3g} above the tolerance {tolerance:g}: '
                    f'{why}')


def test_the_delay_ran(bounce, program, report):
    tail = max(abs(x) for ch in bounce.outputs[program] for x in ch[INPUT_FRAMES:])
    report(f'  {bounce.kind.key} program {program}: echo tail after the input peaks at {tail:.3g}')
    assert tail >= 1e-3, 'no echoes after the input: the delay did not run'


def test_the_comparison_sees_the_tempo(bounce, program, report, request):
    # Otherwise a host tempo that never reached the plug-in would pass unnoticed.
    diff, _ = wavfile.max_diff(bounce.control[program], bounce.reference[program])
    report(f'  {bounce.kind.key} program {program}: a render 1 BPM faster differs by up to '
           f'{diff:.3g}')
    assert diff > request.config.getoption('tolerance'), \
        'a render 1 BPM faster is the same: the comparison could not tell a wrong host tempo'


def test_each_program_was_applied(bounce, request):
    tolerance = request.config.getoption('tolerance')
    programs = sorted(bounce.outputs)
    for i, a in enumerate(programs):
        for b in programs[i + 1:]:
            diff, _ = wavfile.max_diff(bounce.outputs[a], bounce.outputs[b])
            assert diff > tolerance, f'programs {a} and {b} rendered the same in Ardour'


def test_a_saved_session_reloads_the_same(bounce, host, report, request):
    """The plug-in on the track with a program's preset and its first control moved off it,
    bounced and saved; the session loaded by a new Ardour process bounces the same samples with
    the same control values."""
    kind = bounce.kind
    program = [int(p) for p in request.config.getoption('programs').split()][-1]
    tempo = request.config.getoption('tempo') or kind.tempo
    tempo = '-' if tempo is None else tempo
    saved = host.run('persist', bounce.session, TOTAL_FRAMES, tempo, 'save', kind.name,
                     kind.ardour_type, kind.preset_pattern, program)
    loaded = host.run('persist', bounce.session, TOTAL_FRAMES, tempo, 'load')

    def values(out):
        return {int(i): v for i, v in ardour.lines_of(out, 'VALUE')}

    def output(out):
        files = {int(c): path for c, path in ardour.lines_of(out, 'OUTPUT')}
        assert sorted(files) == [0, 1], 'no stereo bounce'
        return [wavfile.channels(files[c], 1)[0] for c in (0, 1)]

    before, after = values(saved), values(loaded)
    assert before, 'the plug-in showed no control inputs'
    changed = {i: (before[i], after.get(i)) for i in before if after.get(i) != before[i]}
    assert not changed and len(after) == len(before), \
        f'{kind.key}: control values changed by the reload (before, after): {changed}'
    first, second = output(saved), output(loaded)
    diff, compared = wavfile.max_diff(first, second)
    edit = wavfile.max_diff(first, bounce.outputs[program])[0] if program in bounce.outputs \
        else float('nan')
    report(f'  {kind.key} session reload (program {program}, first control 0.5): '
           f'{len(before)} control values the same, {compared} samples compared, max '
           f'|difference| {diff:.3g}; the edit moved the bounce by up to {edit:.3g}')
    assert len(first[0]) == len(second[0]) and diff == 0.0, \
        f'{kind.key}: the reloaded session bounced differently (max |difference| {diff:.3g})'
