# gzip: the header with its optional fields, the compressed body, the trailer.
meta:
  id: bk_gzip
  endian: le
seq:
  - {id: magic, contents: [0x1f, 0x8b]}
  - {id: method, type: u1}
  - {id: reserved, type: b3}
  - {id: has_comment, type: b1}
  - {id: has_name, type: b1}
  - {id: has_extra, type: b1}
  - {id: has_crc, type: b1}
  - {id: is_text, type: b1}
  - {id: mtime, type: u4}
  - {id: extra_flags, type: u1}
  - {id: os, type: u1}
  - {id: extra_len, type: u2, if: has_extra}
  - {id: extra, size: extra_len, if: has_extra}
  - {id: name, type: strz, encoding: ISO-8859-1, if: has_name}
  - {id: comment, type: strz, encoding: ISO-8859-1, if: has_comment}
  - {id: header_crc, type: u2, if: has_crc}
  - {id: body, size: _io.size - _io.pos - 8}
  - {id: crc32, type: u4}
  - {id: size, type: u4}
