"""What the end-to-end editor checks expect of the editor's picture, read from the file the C++
end-to-end test reads too (tests/e2e/editor_probes.txt), and the pixel classes they use."""
from dataclasses import dataclass
from pathlib import Path

PROBE_FILE = Path(__file__).resolve().parents[1] / 'e2e' / 'editor_probes.txt'


def luma(rgb):
    r, g, b = rgb
    return (r * 299 + g * 587 + b * 114) // 1000


def green(rgb):
    r, g, b = rgb
    return g > r + 25 and g > b + 25


CLASSES = {
    'lightgrey': lambda rgb: min(rgb) > 140 and max(rgb) - min(rgb) < 30,
    'dark': lambda rgb: all(c < 70 for c in rgb),
    'green': green,
    'notgreen': lambda rgb: not green(rgb),
}


@dataclass(frozen=True)
class Point:
    x: int
    y: int
    kind: str
    label: str

    def holds(self, picture):
        return CLASSES[self.kind](picture.at(self.x, self.y))


@dataclass(frozen=True)
class Probes:
    width: int
    height: int
    points: tuple
    slider: tuple   # x, top, height of the left feedback slider's track
    button: tuple   # x, y of the left feedback on button
    parameters: tuple  # left feedback on, left feedback level, right feedback level


def load(path=PROBE_FILE):
    fields = {'point': []}
    for line in path.read_text().splitlines():
        words = line.split()
        if not words or words[0].startswith('#'):
            continue
        if words[0] == 'point':
            x, y, kind = int(words[1]), int(words[2]), words[3]
            if kind not in CLASSES:
                raise ValueError(f'{path}: unknown class {kind}')
            fields['point'].append(Point(x, y, kind, ' '.join(words[4:])))
        else:
            fields[words[0]] = tuple(int(w) for w in words[1:])
    width, height = fields['size']
    return Probes(width, height, tuple(fields['point']), fields['slider'], fields['button'],
                  fields['parameters'])


class Picture:
    """Raw 8-bit RGB rows, top-down."""

    def __init__(self, data: bytes, width: int, height: int):
        if len(data) != width * height * 3:
            raise ValueError(f'{len(data)} bytes for a {width} x {height} RGB picture')
        self.data, self.width, self.height = data, width, height

    def at(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.data[i:i + 3])

    def thumb_centre(self, x, top, height):
        """The vertical centre of a slider's thumb: the light rows inside its dark track."""
        light = [y for y in range(top + 2, top + height - 2) if luma(self.at(x, y)) > 60]
        return (light[0] + light[-1]) // 2 if light else -1
