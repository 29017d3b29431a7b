#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/.  The seeds are checked in;
run this again only to change them.  Atom types are the URIDs that each
target's rig maps, in the order its open maps them: the params fixture
with the dump option (process_ring, ui_write, atoms) and the io fixture
without it (ui_ring, event_buffer)."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# params fixture, dump option on
P = dict(Chunk=7, Float=9, Int=10, Object=13, String=18, Tuple=19, URID=21, Vector=22,
         Sequence=17, Set=33, Put=32, Get=31, body=34, property=35, value=36, Midi=4,
         p_int=51, p_float=50, p_string=55, p_double=49, p_bool=47, Bool=6, Double=8)
# io fixture, no dump option
IO = dict(Chunk=1, Float=2, Int=3, Object=4, Sequence=6, Set=19, property=21, value=22,
          Midi=15, String=7)


def pad8(data):
    return data + b"\0" * (-len(data) % 8)


def atom(type_, body):
    return struct.pack("<II", len(body), type_) + body


def padded_atom(type_, body):
    return pad8(atom(type_, body))


def prop(key, value_atom):
    return struct.pack("<II", key, 0) + pad8(value_atom)


def obj(u, otype, *props, id_=0):
    return atom(u["Object"], struct.pack("<II", id_, otype) + b"".join(props))


def patch_set(u, prop_urid, value_atom):
    return obj(u, u["Set"], prop(u["property"], atom(u["URID"] if "URID" in u else 0,
                                                      struct.pack("<I", prop_urid))),
               prop(u["value"], value_atom))


def message(type_, body):
    return struct.pack("<II", type_, len(body)) + body


def control(port, value):
    return message(1, struct.pack("<If", port, value))


def event(port, atom_bytes):
    return message(2, struct.pack("<I", port) + atom_bytes)


def write(target, name, data):
    directory = os.path.join(HERE, "corpus", target)
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, name), "wb") as f:
        f.write(data)


def ui_ring():
    note = atom(IO["Midi"], bytes([0x90, 60, 64]))
    position = obj(IO, 23, prop(29, atom(IO["Int"], struct.pack("<i", 0))))
    run, pause = message(5, struct.pack("<I", 0)), message(5, struct.pack("<I", 1))
    write("ui_ring", "control", b"\0" + control(8, 64.0))
    write("ui_ring", "midi-event", b"\0" + event(4, note))
    write("ui_ring", "update-request", b"\0" + message(4, b""))
    write("ui_ring", "pause-resume", b"\1" + pause + control(7, 90.0) + run)
    write("ui_ring", "every-kind", b"\0" + control(8, 3.0) + event(4, note) + event(6, position)
          + message(4, b"") + run)
    write("ui_ring", "unknown-type", b"\0" + control(8, 1.0) + message(9, b"abcd"))
    write("ui_ring", "cut-short", b"\0" + control(8, 1.0) + event(4, note)[:-2])
    write("ui_ring", "atom-larger-than-body",
          b"\0" + message(2, struct.pack("<III", 4, 64, IO["Midi"]) + b"\x90"))
    write("ui_ring", "bad-port", b"\1" + control(4000, 1.0) + event(77, note))


def process_ring():
    set_int = patch_set(P, P["p_int"], atom(P["Int"], struct.pack("<i", 42)))
    put = obj(P, P["Put"], prop(P["body"], obj(P, 0, prop(P["p_float"], atom(P["Float"], struct.pack("<f", 0.25))),
                                               prop(P["p_string"], atom(P["String"], b"hi\0")))))
    nested = atom(P["Tuple"], pad8(atom(P["Int"], struct.pack("<i", 1)))
                  + pad8(atom(P["Vector"], struct.pack("<II", 4, P["Float"]) + struct.pack("<3f", 1, 2, 3)))
                  + pad8(obj(P, P["Get"])))
    write("process_ring", "control", control(5, 0.5))
    write("process_ring", "latency", message(3, struct.pack("<f", 128.0)))
    write("process_ring", "patch-set", event(1, set_int))
    write("process_ring", "patch-put", event(1, put))
    write("process_ring", "nested", event(1, nested) + control(2, 1.0))
    write("process_ring", "atom-larger-than-body", message(2, struct.pack("<III", 1, 99, P["Int"]) + b"\0" * 4))
    write("process_ring", "unknown-type", control(5, 0.1) + message(8, b"xyzw"))
    write("process_ring", "too-short", message(1, b"\1\0") + control(5, 0.1))


def ui_write():
    set_int = patch_set(P, P["p_int"], atom(P["Int"], struct.pack("<i", 7)))
    put = obj(P, P["Put"], prop(P["body"], obj(P, 0, prop(P["p_double"], atom(P["Double"], struct.pack("<d", 0.5))))))
    write("ui_write", "control-value", bytes([2, 0, 1]) + struct.pack("<f", 0.5))
    write("ui_write", "control-wrong-size", bytes([3, 0, 6]) + b"\1\2\3")
    write("ui_write", "patch-set", bytes([0, 1, 1]) + set_int)
    write("ui_write", "patch-put", bytes([0, 1, 1]) + put)
    write("ui_write", "patch-get", bytes([0, 1, 1]) + obj(P, P["Get"]))
    write("ui_write", "size-lie", bytes([0, 1, 0]) + struct.pack("<II", 500, P["Int"]) + b"\0" * 4)
    write("ui_write", "other-protocol", bytes([0, 3]) + struct.pack("<I", P["Float"]) + b"\1" + struct.pack("<f", 1))
    write("ui_write", "invalid-port", bytes([0x80]) + struct.pack("<I", 99) + bytes([0, 1]) + struct.pack("<f", 1))


def atoms():
    def body_of(a):
        return a[8:]
    set_int = patch_set(P, P["p_int"], atom(P["Int"], struct.pack("<i", 3)))
    set_string = patch_set(P, P["p_string"], atom(P["String"], b"text\0"))
    put = obj(P, P["Put"], prop(P["body"], obj(P, 0, prop(P["p_bool"], atom(P["Bool"], struct.pack("<i", 1))))))
    no_property = obj(P, P["Set"], prop(P["value"], atom(P["Int"], struct.pack("<i", 1))))
    vector = struct.pack("<II", 4, P["Float"]) + struct.pack("<3f", 0.5, 1.5, 2.5)
    tuple_ = (pad8(atom(P["Int"], struct.pack("<i", 9))) + pad8(atom(P["String"], b"ab\0"))
              + pad8(atom(P["Vector"], vector)) + pad8(set_int))
    sequence = struct.pack("<II", 0, 0) + struct.pack("<q", 0) + pad8(atom(P["Midi"], bytes([0x90, 60, 100])))
    write("atoms", "patch-set", bytes([0]) + body_of(set_int))
    write("atoms", "patch-set-string", bytes([0]) + body_of(set_string))
    write("atoms", "patch-put", bytes([0]) + body_of(put))
    write("atoms", "set-without-property", bytes([1]) + body_of(no_property))
    write("atoms", "tuple", bytes([3]) + tuple_)
    write("atoms", "vector", bytes([4]) + vector)
    write("atoms", "sequence", bytes([5]) + sequence)
    write("atoms", "string", bytes([12]) + b"hello\0")
    write("atoms", "float", bytes([9]) + struct.pack("<f", 0.75))


def event_buffer():
    def ev(frames, type_, data):
        return pad8(struct.pack("<qII", frames, len(data), type_) + data)
    head = struct.pack("<II", 0, 0)
    one = head + ev(0, IO["Midi"], bytes([0x90, 60, 64]))
    three = head + ev(0, IO["Midi"], bytes([0x90, 60, 64])) + ev(10, IO["Midi"], bytes([0x80, 60, 0])) \
        + ev(20, IO["String"], b"text\0")
    write("event_buffer", "one-event", bytes([0]) + one)
    write("event_buffer", "three-events", bytes([0]) + three)
    write("event_buffer", "empty", bytes([0]) + head)
    write("event_buffer", "claimed-size", bytes([2]) + struct.pack("<I", len(one)) + one)
    write("event_buffer", "chunk", bytes([1]) + struct.pack("<I", IO["Chunk"]) + one)
    write("event_buffer", "claimed-smaller", bytes([2]) + struct.pack("<I", 12) + three)


def control_setting():
    write("control_setting", "one", b"gain=0.5")
    write("control_setting", "several", b"gain=0.5\nmix=1\ndepth=-3")
    write("control_setting", "properties", b"int=42\nfloat=0.25\nstring=2")
    write("control_setting", "unknown", b"nothing=1")
    write("control_setting", "malformed", b"gain\n=5\ngain=abc\n\ngain=")
    write("control_setting", "long-symbol", b"g" * 300 + b"=1")


for make in (ui_ring, process_ring, ui_write, atoms, event_buffer, control_setting):
    make()
