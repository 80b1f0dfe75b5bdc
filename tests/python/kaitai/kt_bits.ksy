# Bit fields in both bit orders, of every width up to 64, with byte reads after
# them and a bit-sized enum and flag. Each group ends on a byte boundary: the
# 0.10 runtime, unlike 0.11 and tavbin.kaitai, keeps the bits a byte read leaves.
meta:
  id: kt_bits
  endian: be
seq:
  - id: msb
    type: msb_first
  - id: after_msb
    type: u1
  - id: lsb
    type: lsb_first
  - id: after_lsb
    type: u2le
  - id: groups
    type: msb_first
    repeat: expr
    repeat-expr: 2
types:
  msb_first:
    meta:
      bit-endian: be
    seq:
      - {id: flag, type: b1}
      - {id: three, type: b3}
      - {id: mode, type: b4, enum: mode}
      - {id: twelve, type: b12}
      - {id: seven, type: b7}
      - {id: wide, type: b33}
      - {id: full, type: b64}
      - {id: last, type: b4}
  lsb_first:
    meta:
      bit-endian: le
    seq:
      - {id: flag, type: b1}
      - {id: five, type: b5}
      - {id: eleven, type: b11}
      - {id: mode, type: b4, enum: mode}
      - {id: wide, type: b40}
      - {id: full, type: b64}
      - {id: odd, type: b3}
enums:
  mode:
    0: off
    5: on
    15: all
