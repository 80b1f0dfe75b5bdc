# PNG: the signature and every chunk, the header and text chunks decoded.
meta:
  id: bk_png
  endian: be
seq:
  - id: signature
    contents: [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]
  - id: chunks
    type: chunk
    repeat: until
    repeat-until: _.type == "IEND" or _io.eof
types:
  chunk:
    seq:
      - {id: len, type: u4}
      - {id: type, type: str, size: 4, encoding: ASCII}
      - id: body
        size: len
        type:
          switch-on: type
          cases:
            '"IHDR"': header
            '"tEXt"': text
            '"pHYs"': physical
            '"tIME"': time
      - {id: crc, type: u4}
  header:
    seq:
      - {id: width, type: u4}
      - {id: height, type: u4}
      - {id: depth, type: u1}
      - {id: colour, type: u1}
      - {id: compression, type: u1}
      - {id: filter, type: u1}
      - {id: interlace, type: u1}
  text:
    seq:
      - {id: keyword, type: strz, encoding: ISO-8859-1}
      - {id: text, type: str, size-eos: true, encoding: ISO-8859-1}
  physical:
    seq:
      - {id: x, type: u4}
      - {id: y, type: u4}
      - {id: unit, type: u1}
  time:
    seq:
      - {id: year, type: u2}
      - {id: month, type: u1}
      - {id: day, type: u1}
      - {id: hour, type: u1}
      - {id: minute, type: u1}
      - {id: second, type: u1}
