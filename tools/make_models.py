#!/usr/bin/env python3
"""Writes the model files of the sample data root (Wavefront OBJ text under the
data root's own .txt names) and their MTL material libraries into
data/VESTRALUME/n/.

  rp.txt  the tile model: a thumbnail panel centred on its origin, 6.5 x 3.7
          wall units, with a bevelled rim and some depth. Its front face
          (facing +z, towards the viewer) maps the whole image, u 0..1 from
          left to right and v 0..1 from bottom to top; the rim and the sides
          repeat the image's edge pixels.
  mp.txt  the selection model: a raised frame around the tile, in front of
          it, mapping the selection image planar over its outline (the image
          is a glowing frame of the same proportions).
  w.txt, r.txt, m.txt  small models that are loaded but not drawn: a textured
          backdrop with normals, an untextured roof without normals, and a
          hexagonal prism with six-cornered faces.

Paths inside the files are relative to the program's working directory.
Faces are convex and run counter-clockwise seen from the side they face; the
script checks that before writing. The output is deterministic.

Usage: tools/make_models.py [output folder]
"""

import math
import os
import sys

# Tile panel: half extents of the outline, of the front face, and depths.
TILE_HALF = (3.25, 1.85)
TILE_FRONT_HALF = (3.1, 1.7)
TILE_FRONT_Z = 0.12
TILE_BACK_Z = -0.2

# Selection frame: inner and outer half extents and depths. The generator of
# the selection image uses the same proportions (tools/make_data.cpp).
FRAME_INNER_HALF = (3.1, 1.7)
FRAME_OUTER_HALF = (3.35, 1.95)
FRAME_FRONT_Z = 0.35
FRAME_BACK_Z = 0.0


def sub(a, b):
    return tuple(x - y for x, y in zip(a, b))


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def dot(a, b):
    return sum(x * y for x, y in zip(a, b))


def unit(a):
    length = math.sqrt(dot(a, a))
    return tuple(x / length for x in a)


def fmt(values):
    """Numbers with at most four decimals, without trailing zeros or "-0"."""
    texts = []
    for value in values:
        text = ("%.4f" % value).rstrip("0").rstrip(".")
        texts.append("0" if text in ("", "-0") else text)
    return " ".join(texts)


class Mesh:
    """An OBJ file under construction; indices handed out are one-based."""

    def __init__(self, title):
        self.lines = ["# " + line for line in title]
        self.vertices = []
        self.texcoords = []
        self.normals = []
        self.preamble = []
        self.body = []

    def vertex(self, p):
        self.vertices.append(p)
        return len(self.vertices)

    def texcoord(self, uv):
        self.texcoords.append(uv)
        return len(self.texcoords)

    def normal(self, n):
        self.normals.append(unit(n))
        return len(self.normals)

    def line(self, text):
        self.body.append(text)

    def header(self, text):
        self.preamble.append(text)

    def face(self, corners, facing, texcoords=None, normal=None):
        """One polygon. `corners` are vertex indices, counter-clockwise seen
        from `facing`; `texcoords` one index per corner or None; `normal` one
        normal index for every corner or None."""
        points = [self.vertices[i - 1] for i in corners]
        # Convex and counter-clockwise: every turn bends towards `facing`.
        for k in range(len(points)):
            a, b, c = points[k - 2], points[k - 1], points[k]
            turn = cross(sub(b, a), sub(c, b))
            if dot(turn, facing) <= 1e-9:
                raise SystemExit("face %s is not convex and counter-clockwise" % (corners,))
        parts = []
        for k, v in enumerate(corners):
            t = texcoords[k] if texcoords else None
            if t is None and normal is None:
                parts.append("%d" % v)
            elif normal is None:
                parts.append("%d/%d" % (v, t))
            elif t is None:
                parts.append("%d//%d" % (v, normal))
            else:
                parts.append("%d/%d/%d" % (v, t, normal))
        self.body.append("f " + " ".join(parts))

    def text(self):
        out = list(self.lines) + self.preamble
        out += ["v " + fmt(p) for p in self.vertices]
        # u, v and w: the loader reads three numbers per texture coordinate.
        out += ["vt " + fmt(tuple(t) + (0,)) for t in self.texcoords]
        out += ["vn " + fmt(n) for n in self.normals]
        out += self.body
        return "\n".join(out) + "\n"


def rect(half_x, half_y, z):
    """Corners of a rectangle, counter-clockwise seen from +z, from the bottom left."""
    return [(-half_x, -half_y, z), (half_x, -half_y, z), (half_x, half_y, z), (-half_x, half_y, z)]


def edge_uv(point, half):
    """The image coordinate of the outline point nearest to `point`, clamped
    into the image, for faces that repeat the image's edge."""
    u = min(max((point[0] + half[0]) / (2 * half[0]), 0.0), 1.0)
    v = min(max((point[1] + half[1]) / (2 * half[1]), 0.0), 1.0)
    return (u, v)


def tile_model():
    mesh = Mesh(["Tile panel: the thumbnail fills the front face (u 0..1, v 0..1, v = 0",
                 "at the bottom); the bevelled rim and the sides repeat its edge pixels."])
    mesh.header("mtllib VESTRALUME/n/rp.mtl")
    mesh.header("o tile")
    front = [mesh.vertex(p) for p in rect(*TILE_FRONT_HALF, TILE_FRONT_Z)]
    rim = [mesh.vertex(p) for p in rect(*TILE_HALF, 0.0)]
    back = [mesh.vertex(p) for p in rect(*TILE_HALF, TILE_BACK_Z)]
    # Image corners in the order of rect(): bottom left, bottom right, top right, top left.
    corner_uv = [mesh.texcoord(uv) for uv in [(0, 0), (1, 0), (1, 1), (0, 1)]]
    front_normal = mesh.normal((0, 0, 1))
    mesh.line("usemtl tilePanel")
    mesh.line("s off")
    mesh.face(front, (0, 0, 1), corner_uv, front_normal)

    mesh.line("usemtl tileRim")
    rim_depth = TILE_FRONT_Z
    sides = [  # (outward direction, index of the side's first corner in rect order)
        ((0, -1, 0), 0), ((1, 0, 0), 1), ((0, 1, 0), 2), ((-1, 0, 0), 3)]
    for direction, k in sides:
        a, b = k, (k + 1) % 4
        inset = TILE_HALF[0] - TILE_FRONT_HALF[0] if direction[0] else TILE_HALF[1] - TILE_FRONT_HALF[1]
        tilt = tuple(d * rim_depth for d in direction[:2]) + (inset,)
        uvs = [corner_uv[a], corner_uv[b], corner_uv[b], corner_uv[a]]
        mesh.face([rim[a], rim[b], front[b], front[a]], tilt, uvs, mesh.normal(tilt))
        # The side wall from the rim back to the back face.
        side = mesh.normal(direction)
        mesh.face([back[a], back[b], rim[b], rim[a]], direction,
                  [corner_uv[a], corner_uv[b], corner_uv[b], corner_uv[a]], side)
    back_normal = mesh.normal((0, 0, -1))
    # Seen from behind the corners run the other way round.
    mesh.face([back[1], back[0], back[3], back[2]], (0, 0, -1),
              [corner_uv[1], corner_uv[0], corner_uv[3], corner_uv[2]], back_normal)
    return mesh


def frame_model():
    mesh = Mesh(["Selection frame: a raised bezel around the tile, in front of it.",
                 "The selection image is mapped planar over the frame's outline."])
    mesh.header("mtllib VESTRALUME/n/mp.mtl")
    mesh.header("o selection")
    outer_front = [mesh.vertex(p) for p in rect(*FRAME_OUTER_HALF, FRAME_FRONT_Z)]
    inner_front = [mesh.vertex(p) for p in rect(*FRAME_INNER_HALF, FRAME_FRONT_Z)]
    outer_back = [mesh.vertex(p) for p in rect(*FRAME_OUTER_HALF, FRAME_BACK_Z)]
    inner_back = [mesh.vertex(p) for p in rect(*FRAME_INNER_HALF, TILE_FRONT_Z)]
    uv = {}
    for corners in (outer_front, inner_front):
        for i in corners:
            uv[i] = mesh.texcoord(edge_uv(mesh.vertices[i - 1], FRAME_OUTER_HALF))
    uv_of_outer = {b: uv[f] for f, b in zip(outer_front, outer_back)}
    uv_of_inner = {b: uv[f] for f, b in zip(inner_front, inner_back)}
    uv.update(uv_of_outer)
    uv.update(uv_of_inner)
    mesh.line("usemtl selectionGlow")
    sides = [((0, -1, 0), 0), ((1, 0, 0), 1), ((0, 1, 0), 2), ((-1, 0, 0), 3)]
    for direction, k in sides:
        a, b = k, (k + 1) % 4
        # The front strip of this side of the ring.
        strip = [outer_front[a], outer_front[b], inner_front[b], inner_front[a]]
        mesh.face(strip, (0, 0, 1), [uv[i] for i in strip])
    mesh.line("usemtl selectionEdge")
    for direction, k in sides:
        a, b = k, (k + 1) % 4
        outer = [outer_back[a], outer_back[b], outer_front[b], outer_front[a]]
        mesh.face(outer, direction, [uv[i] for i in outer])
        inward = tuple(-d for d in direction)
        inner = [inner_back[b], inner_back[a], inner_front[a], inner_front[b]]
        mesh.face(inner, inward, [uv[i] for i in inner])
    return mesh


def backdrop_model():
    mesh = Mesh(["Backdrop: a 2 x 2 grid of textured panels and an untextured floor strip, with normals."])
    mesh.header("mtllib VESTRALUME/n/w.mtl")
    mesh.header("g backdrop")
    grid = {}
    for j in range(3):
        for i in range(3):
            grid[i, j] = mesh.vertex((-40 + 40 * i, -20 + 20 * j, -60))
    uv = {}
    for j in range(3):
        for i in range(3):
            uv[i, j] = mesh.texcoord((i / 2, j / 2))
    facing = mesh.normal((0, 0, 1))
    mesh.line("usemtl backdropPanel")
    mesh.line("usemat VESTRALUME/t/w.jpg")
    for j in range(2):
        for i in range(2):
            corners = [(i, j), (i + 1, j), (i + 1, j + 1), (i, j + 1)]
            mesh.face([grid[c] for c in corners], (0, 0, 1), [uv[c] for c in corners], facing)
    mesh.line("usemat (null)")
    # A floor strip below the panels, untextured.
    floor = [mesh.vertex(p) for p in [(-40, -20, -60), (-40, -20, -40), (40, -20, -40),
                                       (40, -20, -60)]]
    upward = mesh.normal((0, 1, 0))
    mesh.line("usemtl backdropFloor")
    mesh.face([floor[1], floor[2], floor[3], floor[0]], (0, 1, 0), None, upward)
    return mesh


def roof_model():
    mesh = Mesh(["Roof: a four-sided pyramid on a square base, without normals",
                 "(the loader computes one per face)."])
    mesh.header("mtllib VESTRALUME/n/r.mtl")
    mesh.header("o roof")
    base = [mesh.vertex(p) for p in [(-5, 0, 5), (5, 0, 5), (5, 0, -5), (-5, 0, -5)]]
    apex = mesh.vertex((0, 6, 0))
    mesh.line("usemtl roofTiles")
    outward = [(0, 0.6, 1), (1, 0.6, 0), (0, 0.6, -1), (-1, 0.6, 0)]
    for k in range(4):
        mesh.face([base[k], base[(k + 1) % 4], apex], outward[k])
    mesh.line("usemtl roofBase")
    mesh.face([base[3], base[2], base[1], base[0]], (0, -1, 0))
    return mesh


def prism_model():
    mesh = Mesh(["Marker: a hexagonal prism with six-cornered caps, normals given as v//vn",
                 "on the caps and textured sides."])
    mesh.header("mtllib VESTRALUME/n/m.mtl")
    mesh.header("o marker")
    top = []
    bottom = []
    for k in range(6):
        angle = math.radians(60 * k)
        x, z = 2 * math.cos(angle), -2 * math.sin(angle)
        bottom.append(mesh.vertex((x, 0, z)))
        top.append(mesh.vertex((x, 3, z)))
    up = mesh.normal((0, 1, 0))
    down = mesh.normal((0, -1, 0))
    mesh.line("usemtl markerCap")
    # Seen from above (+y) the corners run counter-clockwise with the angle;
    # seen from below, the other way round.
    mesh.face(list(top), (0, 1, 0), None, up)
    mesh.face(list(reversed(bottom)), (0, -1, 0), None, down)
    mesh.line("usemtl markerSide")
    mesh.line("usemat VESTRALUME/t/m.jpg")
    uv = [mesh.texcoord((u, v)) for u, v in [(0, 0), (1, 0), (1, 1), (0, 1)]]
    for k in range(6):
        a, b = k, (k + 1) % 6
        mid = math.radians(60 * k + 30)
        direction = (math.cos(mid), 0, -math.sin(mid))
        side = mesh.normal(direction)
        mesh.face([bottom[a], bottom[b], top[b], top[a]], direction, uv, side)
    return mesh


MATERIALS = {
    "rp.mtl": [
        ("tilePanel", (0.2, 0.2, 0.2), (1, 1, 1), (0, 0, 0), 0, 1),
        ("tileRim", (0.1, 0.1, 0.1), (0.35, 0.35, 0.4), (0.2, 0.2, 0.2), 250, 1),
    ],
    "mp.mtl": [
        ("selectionGlow", (0.3, 0.2, 0.0), (1, 0.8, 0.2), (0, 0, 0), 0, 1),
        ("selectionEdge", (0.2, 0.1, 0.0), (0.9, 0.5, 0.1), (0, 0, 0), 0, 1),
    ],
    "w.mtl": [
        ("backdropPanel", (0.2, 0.2, 0.2), (0.8, 0.8, 0.8), (0, 0, 0), 0, 1),
        ("backdropFloor", (0.05, 0.05, 0.08), (0.15, 0.15, 0.2), (0.1, 0.1, 0.1), 100, 1),
    ],
    "r.mtl": [
        ("roofTiles", (0.2, 0.05, 0.05), (0.6, 0.15, 0.1), (0.3, 0.3, 0.3), 500, 1),
        ("roofBase", (0.1, 0.1, 0.1), (0.3, 0.3, 0.3), (0, 0, 0), 0, 0.5),
    ],
    "m.mtl": [
        ("markerCap", (0.1, 0.1, 0.2), (0.2, 0.3, 0.8), (0.5, 0.5, 0.5), 1000, 1),
        ("markerSide", (0.2, 0.2, 0.2), (1, 1, 1), (0, 0, 0), 0, 1),
    ],
}


def material_text(name, entries):
    lines = ["# Materials of VESTRALUME/n/%s.txt" % name[:-4]]
    for material, ka, kd, ks, ns, d in entries:
        lines += ["", "newmtl " + material, "Ka " + fmt(ka), "Kd " + fmt(kd),
                  "Ks " + fmt(ks), "Ns " + fmt([ns]), "d " + fmt([d]), "illum 2"]
    return "\n".join(lines) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "data",
                                                                  "VESTRALUME", "n")
    models = {"rp.txt": tile_model(), "mp.txt": frame_model(), "w.txt": backdrop_model(),
              "r.txt": roof_model(), "m.txt": prism_model()}
    for name, mesh in models.items():
        with open(os.path.join(folder, name), "w", encoding="ascii", newline="\n") as out:
            out.write(mesh.text())
    for name, entries in MATERIALS.items():
        with open(os.path.join(folder, name), "w", encoding="ascii", newline="\n") as out:
            out.write(material_text(name, entries))


if __name__ == "__main__":
    main()
