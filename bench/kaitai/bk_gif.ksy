# GIF: the screen descriptor, the colour tables, and every block down to the
# data sub-blocks.
meta:
  id: bk_gif
  endian: le
seq:
  - {id: magic, contents: "GIF"}
  - {id: version, type: str, size: 3, encoding: ASCII}
  - {id: width, type: u2}
  - {id: height, type: u2}
  - {id: has_table, type: b1}
  - {id: colour_resolution, type: b3}
  - {id: sorted, type: b1}
  - {id: table_bits, type: b3}
  - {id: background, type: u1}
  - {id: aspect, type: u1}
  - id: table
    type: rgb
    repeat: expr
    repeat-expr: '1 << (table_bits + 1)'
    if: has_table
  - id: blocks
    type: block
    repeat: until
    repeat-until: _.kind == 0x3b or _io.eof
types:
  rgb:
    seq:
      - {id: r, type: u1}
      - {id: g, type: u1}
      - {id: b, type: u1}
  block:
    seq:
      - {id: kind, type: u1}
      - id: body
        type:
          switch-on: kind
          cases:
            0x2c: image
            0x21: extension
  image:
    seq:
      - {id: left, type: u2}
      - {id: top, type: u2}
      - {id: width, type: u2}
      - {id: height, type: u2}
      - {id: has_table, type: b1}
      - {id: interlaced, type: b1}
      - {id: sorted, type: b1}
      - {id: reserved, type: b2}
      - {id: table_bits, type: b3}
      - id: table
        type: rgb
        repeat: expr
        repeat-expr: '1 << (table_bits + 1)'
        if: has_table
      - {id: lzw_min, type: u1}
      - {id: data, type: sub_blocks}
  extension:
    seq:
      - {id: label, type: u1}
      - {id: data, type: sub_blocks}
  sub_blocks:
    seq:
      - id: blocks
        type: sub_block
        repeat: until
        repeat-until: _.len == 0
  sub_block:
    seq:
      - {id: len, type: u1}
      - {id: bytes, size: len}
