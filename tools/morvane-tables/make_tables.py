#!/usr/bin/env python3
"""Builds the optical-depth program's spectral tables from the public data in shared/data/spectra.

espectro.dat  wavelength (nm), extraterrestrial irradiance (W m-2 nm-1)
ozono.dat     wavelength, K1, K2, K3 of sigma = K1 (1 + c K2) / (1 + c K3), c = 1 - T/Tref
              (Tref 228 K below 345 nm, else 223 K)
no2.dat       wavelength, N1, N2 of sigma = N1 + (T - 220) N2
tw.dat        water-vapour transmittance table, binary: int16 count, then rows of four float32
              (air mass, relative pressure, water in cm, transmittance), little endian

Each text table starts with title lines naming its source; the program skips them.
Usage: make_tables.py [--spectra DIR] [--out DIR] [--tw-a A] [--tw-b B] [--tw-c C]
"""
import argparse
import os
import struct


def read_columns(path):
    """Returns (header lines without '#', rows of floats) of a spectra file."""
    header, rows = [], []
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#"):
                header.append(line[1:].strip())
            elif line.strip():
                rows.append([float(x) for x in line.split()])
    return header, rows


def source_lines(header):
    """The header lines from the source repository on: source, reference and licence."""
    for i, h in enumerate(header):
        if h.startswith("Source"):
            return header[i:]
    return []


def title(lines):
    # Title lines must not begin with a number: the program reads the first numeric line as data.
    return "".join("Tabla: " + l + "\n" for l in lines)


def sigma(c, t):
    d = t - 273.15
    return c[0] + c[1] * d + c[2] * d * d


def fit_ozone(c, wavelength):
    """K1 at the reference temperature, K2 and K3 by least squares over 203..293 K."""
    tref = 228.0 if wavelength < 345 else 223.0
    k1 = sigma(c, tref)
    if k1 <= 0:
        return 0.0, 0.0, 0.0
    temps = [203.0 + i for i in range(91)]
    cs = [1 - t / tref for t in temps]
    ss = [sigma(c, t) for t in temps]
    # sigma - K1 = c (K1 K2) - c sigma K3, linear in u = K1 K2 and K3.
    a11 = sum(x * x for x in cs)
    a12 = sum(-x * x * s for x, s in zip(cs, ss))
    a22 = sum((x * s) ** 2 for x, s in zip(cs, ss))
    b1 = sum(x * (s - k1) for x, s in zip(cs, ss))
    b2 = sum(-x * s * (s - k1) for x, s in zip(cs, ss))
    det = a11 * a22 - a12 * a12
    k3 = None
    if det > 1e-12 * a11 * a22:
        u = (b1 * a22 - b2 * a12) / det
        k3 = (a11 * b2 - a12 * b1) / det
        # A pole of 1 + c K3 near the temperatures of use would make the form unstable.
        if max(abs(x * k3) for x in cs) > 0.5:
            k3 = None
    if k3 is None:
        k3 = 0.0
        u = b1 / a11
    return k1, u / k1, k3


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    top = os.path.normpath(os.path.join(here, "..", ".."))
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--spectra", default=os.path.join(top, "..", "..", "shared", "data", "spectra"))
    p.add_argument("--out", default=os.path.join(top, "data", "morvane"))
    p.add_argument("--tw-a", type=float, default=0.50)
    p.add_argument("--tw-b", type=float, default=0.60)
    p.add_argument("--tw-c", type=float, default=0.30)
    args = p.parse_args()
    if not os.path.isdir(args.spectra):
        args.spectra = "/work/shared/data/spectra"
    os.makedirs(args.out, exist_ok=True)
    last_nm = 1700

    header, rows = read_columns(os.path.join(args.spectra, "solar_etr_astmg173.txt"))
    with open(os.path.join(args.out, "espectro.dat"), "w", encoding="ascii", newline="\n") as f:
        f.write(title(["Extraterrestrial solar spectral irradiance (W m-2 nm-1), ASTM G173-03 ETR, 1 nm"]
                      + source_lines(header)))
        for r in rows:
            f.write("%d %.6g\n" % (r[0], r[1]))

    header, rows = read_columns(os.path.join(args.spectra, "o3_bogumil_quadfit_1nm.txt"))
    with open(os.path.join(args.out, "ozono.dat"), "w", encoding="ascii", newline="\n") as f:
        f.write(title(["Ozone cross-section (cm2): wavelength, K1, K2, K3 of K1 (1 + c K2) / (1 + c K3),",
                       "c = 1 - T/228 below 345 nm, else 1 - T/223; fitted over 203-293 K to the Bogumil et al.",
                       "(2003) quadratic temperature fit; zero beyond its range. Data under GNU GPL v2."]
                      + source_lines(header)))
        nm = int(rows[0][0])
        for r in rows:
            k1, k2, k3 = fit_ozone(r[1:4], r[0])
            f.write("%d %.6e %.6e %.6e\n" % (r[0], k1, k2, k3))
            nm = int(r[0])
        for w in range(nm + 1, last_nm + 1):
            f.write("%d 0 0 0\n" % w)

    header, rows = read_columns(os.path.join(args.spectra, "no2_bogumil_quadfit_1nm.txt"))
    with open(os.path.join(args.out, "no2.dat"), "w", encoding="ascii", newline="\n") as f:
        f.write(title(["NO2 cross-section (cm2): wavelength, N1 = sigma(220 K), N2 = (sigma(294 K) - sigma(220 K))/74,",
                       "from the Bogumil et al. (2003) quadratic temperature fit; zero beyond its range.",
                       "Data under GNU GPL v2."]
                      + source_lines(header)))
        nm = int(rows[0][0])
        for r in rows:
            n1 = sigma(r[1:4], 220.0)
            n2 = (sigma(r[1:4], 294.0) - n1) / 74.0
            f.write("%d %.6e %.6e\n" % (r[0], n1, n2))
            nm = int(r[0])
        for w in range(nm + 1, last_nm + 1):
            f.write("%d 0 0\n" % w)

    # tw.dat: T = exp(-a (m W)^b (p/p0)^c) on 25 air masses x 20 pressures x 20 amounts.
    import math
    masses = [1.0 + 0.25 * i for i in range(25)]
    pressures = [0.50 + 0.03 * i for i in range(20)]
    amounts = [0.4 * i for i in range(20)]
    with open(os.path.join(args.out, "tw.dat"), "wb") as f:
        f.write(struct.pack("<h", 25 * 20 * 20))
        for m in masses:
            for pr in pressures:
                for w in amounts:
                    t = math.exp(-args.tw_a * (m * w) ** args.tw_b * pr ** args.tw_c)
                    f.write(struct.pack("<4f", m, pr, w, t))
    print("tables written to", args.out)


if __name__ == "__main__":
    main()
