// RecordTest.cs - every method's failure in one table (status, offset, and that the
// reader is where the C call leaves it), bulk values against the single reads, and on
// net8.0 and later the span and memory calls.

using System;
#if NET
using System.Runtime.InteropServices;
#endif
using System.Collections.Generic;
using System.Linq;
using static Tavbin.Tests.Assert;
using Tavbin.Core;

namespace Tavbin.Tests
{
    static class RecordTest
    {
        // Reader calls that fail at the end of the input, and the status they fail with.
        static readonly KeyValuePair<string, Action<Reader>>[] AtTheEnd =
        {
            Row("U8", r => r.U8()), Row("I8", r => r.I8()), Row("U16", r => r.U16()), Row("I16", r => r.I16()),
            Row("U24", r => r.U24()), Row("I24", r => r.I24()), Row("U32", r => r.U32()), Row("I32", r => r.I32()),
            Row("F32", r => r.F32()), Row("U64", r => r.U64()), Row("I64", r => r.I64()), Row("F64", r => r.F64()),
            Row("Bits(5)", r => r.Bits(5)), Row("Leb128", r => r.Leb128()), Row("Sleb128", r => r.Sleb128()),
            Row("Skip(1)", r => r.Skip(1)), Row("Bytes(1)", r => r.Bytes(1)), Row("Ascii(1)", r => r.Ascii(1)),
            Row("StringU32", r => r.StringU32()), Row("CString(9)", r => r.CString(9)), Row("Sub(1)", r => r.Sub(1)),
            Row("PeekU8", r => r.PeekU8()), Row("PeekU16", r => r.PeekU16()), Row("PeekU32", r => r.PeekU32()),
            Row("PeekU64", r => r.PeekU64()), Row("Array<byte>", r => r.Array(new byte[1])),
            Row("Array<double>", r => r.Array(new double[1])), Row("StringU8", r => r.StringU8()),
            Row("StringU16", r => r.StringU16()), Row("StringLeb128", r => r.StringLeb128()),
            Row("Leb128U32", r => r.Leb128U32()), Row("Sleb128I32", r => r.Sleb128I32()),
            Row("CStringAt(1)", r => r.CStringAt(1, 9)),
        };

        static readonly KeyValuePair<string, Action<Reader>>[] Range =
        {
            Row("Seek(3)", r => r.Seek(3)), Row("U8At(2)", r => r.U8At(2)), Row("U16At(1)", r => r.U16At(1)),
            Row("U32At(0)", r => r.U32At(0)), Row("U64At(0)", r => r.U64At(0)), Row("CStringAt(3)", r => r.CStringAt(3, 9)),
        };

        static readonly KeyValuePair<string, Action<Reader>>[] Invalid =
        {
            Row("Bits(0)", r => r.Bits(0)), Row("Bits(65)", r => r.Bits(65)), Row("Leb128(0)", r => r.Leb128(0)),
            Row("Sleb128(0)", r => r.Sleb128(0)), Row("SetEndian(2)", r => r.SetEndian((Endian)2)),
        };

        static KeyValuePair<string, Action<Reader>> Row(string name, Action<Reader> call) =>
            new KeyValuePair<string, Action<Reader>>(name, call);

        // Two bytes, the cursor at the second: either at its start, or 4 bits into it,
        // where every byte-level read moves past the rest of it before it fails.
        static Reader Positioned(bool partly)
        {
            var r = new Reader(new byte[] { 0x80, 0x80 });
            r.U8();
            if (partly)
                r.Bits(4);
            return r;
        }

        [Test]
        static void EveryReaderFailureWithItsOffset()
        {
            var table = new[] { Tuple.Create(Status.Eof, AtTheEnd), Tuple.Create(Status.Range, Range), Tuple.Create(Status.InvalidArg, Invalid) };
            foreach (bool partly in new[] { false, true })
                foreach (var group in table)
                    foreach (var row in group.Item2)
                    {
                        string what = row.Key + (partly ? " 4 bits into the last byte" : " at the last byte");
                        using (Reader r = Positioned(partly))
                        {
                            if (!partly && group.Item1 == Status.Eof)
                                r.U8(); // now at the very end
                            // An absolute read's offset is the one it was given.
                            string method = row.Key.Split('(', '<')[0];
                            ulong at = method.EndsWith("At") ? ulong.Parse(row.Key.Split('(', ')')[1]) : r.Tell();
                            TavbinException e = Throws<TavbinException>(() => row.Value(r), what);
                            Equal(group.Item1, e.Status, what + ": status");
                            Equal(at, e.Offset, what + ": offset");
                            Equal("Reader." + method + ": " + Library.StrError((int)group.Item1) + " at offset " + at, e.Message,
                                  what + ": message");
                            Equal(group.Item1, r.LastError, what + ": recorded");
                        }
                    }
        }

        [Test]
        static void EveryWriterAndLibraryFailureWithItsOffset()
        {
            byte[] three = { 1, 2, 3 };
            using (var w = new Writer())
            {
                w.U16(0x0102);
                w.U8(3);
                var rows = new[]
                {
                    Tuple.Create("SetEndian(2)", Status.InvalidArg, 3UL, (Action)(() => w.SetEndian((Endian)2))),
                    Tuple.Create("U24(2^24)", Status.Range, 3UL, (Action)(() => w.U24(1u << 24))),
                    Tuple.Create("I24(2^23)", Status.Range, 3UL, (Action)(() => w.I24(1 << 23))),
                    Tuple.Create("I24(-2^23 - 1)", Status.Range, 3UL, (Action)(() => w.I24(-(1 << 23) - 1))),
                    Tuple.Create("PatchU16(2)", Status.Range, 2UL, (Action)(() => w.PatchU16(2, 1))),
                    Tuple.Create("PatchU16(2^64 - 1)", Status.Range, ulong.MaxValue, (Action)(() => w.PatchU16(ulong.MaxValue, 1))),
                    Tuple.Create("PatchU32(0)", Status.Range, 0UL, (Action)(() => w.PatchU32(0, 1))),
                    Tuple.Create("PatchU64(0)", Status.Range, 0UL, (Action)(() => w.PatchU64(0, 1))),
                    Tuple.Create("LoadU16(2)", Status.Eof, 2UL, (Action)(() => Library.LoadU16(three, 2, Endian.Big))),
                    Tuple.Create("LoadU32(0)", Status.Eof, 0UL, (Action)(() => Library.LoadU32(three, 0, Endian.Big))),
                    Tuple.Create("LoadU64(9)", Status.Eof, 9UL, (Action)(() => Library.LoadU64(three, 9, Endian.Big))),
                    Tuple.Create("LoadU32 order 2", Status.InvalidArg, 0UL, (Action)(() => Library.LoadU32(new byte[4], 0, (Endian)2))),
                    Tuple.Create("StoreU16(2)", Status.Range, 2UL, (Action)(() => Library.StoreU16(three, 2, 1, Endian.Big))),
                    Tuple.Create("StoreU32(0)", Status.Range, 0UL, (Action)(() => Library.StoreU32(three, 0, 1, Endian.Big))),
                    Tuple.Create("StoreU64(1)", Status.Range, 1UL, (Action)(() => Library.StoreU64(three, 1, 1, Endian.Big))),
                    Tuple.Create("StoreU16 order 9", Status.InvalidArg, 0UL, (Action)(() => Library.StoreU16(three, 0, 1, (Endian)9))),
                };
                foreach (var row in rows)
                {
                    TavbinException e = Throws<TavbinException>(row.Item4, row.Item1);
                    Equal(row.Item2, e.Status, row.Item1 + ": status");
                    Equal(row.Item3, e.Offset, row.Item1 + ": offset");
                }
                Bytes(new byte[] { 1, 2, 3 }, w.ToArray(), "nothing written by the failures");
                Bytes(new byte[] { 1, 2, 3 }, three, "nothing stored by the failures");
                Throws<ArgumentException>(() => w.Array(new decimal[1]), "Writer.Array<decimal>");
                using (var r = new Reader(three))
                    Throws<ArgumentException>(() => r.Array(new DateTime[1]), "Reader.Array<DateTime>");
            }
        }

        // Writer.Array in both orders gives what the single appends give, and
        // Reader.Array reads back what the single reads read.
        [Test]
        static void ArraysAgainstSingleValues()
        {
            foreach (Endian order in new[] { Endian.Big, Endian.Little })
            {
                using (var bulk = new Writer(0, order))
                using (var single = new Writer(0, order))
                {
                    bulk.Array(new byte[] { 1, 0xFF }); bulk.Array(new sbyte[] { -2 });
                    bulk.Array(new ushort[] { 0x0102, 0xFFFE }); bulk.Array(new short[] { -3 });
                    bulk.Array(new uint[] { 0x01020304 }); bulk.Array(new int[] { -4 }); bulk.Array(new float[] { 1.5f });
                    bulk.Array(new ulong[] { 0x0102030405060708 }); bulk.Array(new long[] { -5 }); bulk.Array(new double[] { -0.25 });
                    bulk.Array(new uint[0]);
                    single.U8(1); single.U8(0xFF); single.U8(0xFE);
                    single.U16(0x0102); single.U16(0xFFFE); single.I16(-3);
                    single.U32(0x01020304); single.I32(-4); single.F32(1.5f);
                    single.U64(0x0102030405060708); single.I64(-5); single.F64(-0.25);
                    byte[] bytes = single.ToArray();
                    Bytes(bytes, bulk.ToArray(), "arrays appended " + order);
                    using (var r = new Reader(bytes, order))
                    {
                        var u8 = new byte[2]; var i8 = new sbyte[1]; var u16 = new ushort[2]; var i16 = new short[1];
                        var u32 = new uint[1]; var i32 = new int[1]; var f32 = new float[1];
                        var u64 = new ulong[1]; var i64 = new long[1]; var f64 = new double[1];
                        r.Array(u8); r.Array(i8); r.Array(u16); r.Array(i16); r.Array(u32); r.Array(i32); r.Array(f32);
                        r.Array(u64); r.Array(i64); r.Array(f64);
                        string got = string.Join(" ", new object[] { u8[0], u8[1], i8[0], u16[0], u16[1], i16[0], u32[0], i32[0], f32[0], u64[0], i64[0], f64[0] });
                        Equal("1 255 -2 258 65534 -3 16909060 -4 1.5 72623859790382856 -5 -0.25", got.Replace(',', '.'), "arrays read " + order);
                        Equal(0UL, r.Remaining(), "all read");
                    }
                }
            }
        }

        // The reader's own record of its byte order and of a partly read byte, which
        // Sub, Array, U24 and LsbBits rely on, after each call that changes them.
        [Test]
        static void OrderAndBitPositionFollowTheCalls()
        {
            byte[] data = { 0xF0, 0x01, 0x02, 0x03, 0x04, 0x00 };
            var steps = new[]
            {
                Tuple.Create("Bits(4), BitAlign", (Action<Reader>)(r => { r.Bits(4); r.BitAlign(); }), 1UL),
                Tuple.Create("Bits(4), Seek(1)", (Action<Reader>)(r => { r.Bits(4); r.Seek(1); }), 1UL),
                Tuple.Create("Bits(4), U8", (Action<Reader>)(r => { r.Bits(4); r.U8(); }), 2UL),
                Tuple.Create("Bits(4), Bits(4)", (Action<Reader>)(r => { r.Bits(4); r.Bits(4); }), 1UL),
                Tuple.Create("Bits(12)", (Action<Reader>)(r => r.Bits(12)), 2UL),
                Tuple.Create("Bits(4), U32 fails", (Action<Reader>)(r => { r.Seek(5); r.Bits(4); Throws<TavbinException>(() => r.U32(), "U32"); r.Seek(1); }), 1UL),
                Tuple.Create("Bits(4), Sleb128", (Action<Reader>)(r => r.Sleb128(1 + 0 * r.Bits(4))), 2UL),
                Tuple.Create("Bits(4), CString too long", (Action<Reader>)(r => { r.Bits(4); Throws<TavbinException>(() => r.CString(0), "CString(0)"); }), 1UL),
                Tuple.Create("Bits(4), Sub(1)", (Action<Reader>)(r => { r.Bits(4); r.Sub(1).Dispose(); }), 2UL),
            };
            using (var r = new Reader(data))
            {
                // Running out of bits consumes the last byte whole.
                r.Seek(5);
                r.Bits(4);
                Throws<TavbinException>(() => r.Bits(9), "Bits(9) of 4");
                using (LsbBitReader bits = r.LsbBits())
                    Equal(6UL, Throws<TavbinException>(() => bits.Read(1), "LsbBits at the end").Offset, "after Bits ran out");
            }
            foreach (var step in steps)
                using (var r = new Reader(data))
                {
                    step.Item2(r);
                    using (LsbBitReader bits = r.LsbBits())
                        Equal(step.Item3, bits.Read(8), "the first whole byte after " + step.Item1);
                }
            using (var r = new Reader(data, Endian.Big))
            {
                r.SetEndian(Endian.Little);
                r.Skip(1);
                var a = new ushort[1];
                r.Array(a);
                Equal((ushort)0x0201, a[0], "Array after SetEndian(Little)");
                using (Reader sub = r.Sub(3))
                {
                    Equal(0x000403u, sub.U24(), "a sub-reader keeps the order");
                    sub.Seek(0);
                    Equal((ushort)0x0403, sub.U16(), "a sub-reader keeps the order");
                    Equal(0, sub.CString(5).Length, "a sub-reader reads its own bytes");
                }
            }
        }

        // The record layer's reads begin at the next whole byte, as the C reads do, and
        // a refusal is recorded as the C reads record theirs.
        [Test]
        static void RecordReadsAfterAPartlyReadByte()
        {
            using (var r = new Reader(new byte[] { 0xF0, 0x7F, 0x61, 0x00 }))
            {
                r.Bits(4);
                Equal(-1L, r.Sleb128(1), "Sleb128 after 4 bits");
                r.Seek(1);
                r.Bits(4);
                Bytes(new byte[] { 0x61 }, r.CString(5), "CString after 4 bits");
            }
            using (var r = new Reader(Of("80 80 80 80 80 80 80 80 80 01")))
            {
                Fails(Status.InvalidArg, () => r.Sleb128(), "a tenth byte outside long");
                Equal(Status.InvalidArg, r.LastError, "the refusal recorded");
                Equal(0UL, r.Tell(), "the cursor where the number began");
            }
            // A failed 32-bit LEB128 skips the partly read byte for good: bits read
            // after it start on a whole byte, and so does the string after those.
            using (var r = new Reader(Of("f0 80 80 80 80 80 01 61")))
            {
                r.Bits(4);
                Fails(Status.InvalidArg, () => r.Sleb128I32(), "Sleb128I32 of five bytes after 4 bits");
                Equal(0x8080808080UL, r.Bits(40), "the five bytes as bits");
                Bytes(Of("61"), r.StringU8(), "StringU8 after them");
            }
            // A long run of the same three calls on one reader, long enough for .NET's
            // fast path to be handed to this thread: each string still begins after
            // the byte the bits were taken from, and a whole byte read in between.
            using (var w = new Writer())
            {
                for (int i = 0; i < 40; i++)
                    w.Bytes(new byte[] { (byte)(i << 5), (byte)i, 1, (byte)(0x80 | i) });
                using (var r = new Reader(w.ToArray()))
                    for (int i = 0; i < 40; i++)
                    {
                        Equal((ulong)(i & 7), r.Bits(3), "Bits(3) of round " + i);
                        Equal((byte)i, r.U8(), "U8 of round " + i);
                        Bytes(new byte[] { (byte)(0x80 | i) }, r.StringU8(), "StringU8 of round " + i);
                    }
            }
        }

        // A sub-reader keeps its bytes after the reader it was cut from is gone.
        [Test]
        static void SubOutlivesItsParent()
        {
            Reader sub;
            using (var r = new Reader(new byte[] { 9, 8, 7, 6 }))
            {
                r.U8();
                sub = r.Sub(2);
                Equal(3UL, r.Tell(), "parent moved past");
            }
            Runner.CollectEverything();
            Equal((ushort)0x0807, sub.U16(), "sub reads after the parent's Dispose");
            True(Checks.Held > 0, "the parent's bytes still held");
            sub.Dispose();
        }

        // A sub-reader's Origin places it in the outermost input; its failures name
        // the method and its own offset.
        [Test]
        static void OriginsOfSubReaders()
        {
            using (var r = new Reader(new byte[] { 0, 1, 2, 3, 4, 5, 6, 7 }))
            {
                Equal(0UL, r.Origin, "a reader over an array");
                r.Skip(2);
                using (Reader a = r.Sub(5))
                {
                    a.U8();
                    using (Reader b = a.Sub(3))
                    {
                        Equal(2UL, a.Origin, "a sub-reader's origin");
                        Equal(3UL, b.Origin, "a sub-reader of a sub-reader");
                        Equal((byte)3, b.U8(), "the byte at its origin");
                        b.U16();
                        TavbinException e = Throws<TavbinException>(() => b.U8(), "U8 at its end");
                        Equal("Reader.U8: eof at offset 3", e.Message, "the sub-reader's own offset");
                        Equal(6UL, b.Origin + e.Offset, "placed in the outermost input");
                    }
                }
            }
        }

        // Dispose does what Done does: the reader moves past the bytes bits were taken
        // from, and no more bits are read.
        [Test]
        static void LsbBitReaderDisposeIsDone()
        {
            using (var r = new Reader(new byte[] { 0xFF, 0x01, 0x02 }))
            {
                LsbBitReader bits = r.LsbBits();
                Equal(0x1FFUL, bits.Read(9), "9 bits");
                bits.Dispose();
                Equal(2UL, r.Tell(), "past both bytes a bit was taken from");
                Fails(Status.InvalidArg, () => bits.Read(1), "Read after Dispose");
                bits.Dispose();
                Equal(2UL, r.Tell(), "a second Dispose moves nothing");
            }
            var reader = new Reader(new byte[2]);
            LsbBitReader left = reader.LsbBits();
            reader.Dispose();
            left.Dispose(); // the reader is gone: nothing to move
            Fails(Status.InvalidArg, () => left.Read(1), "Read after Dispose of a disposed reader's bits");
        }

        // The writer's 16-bit counts, 24-bit values and patches follow SetEndian, and a
        // count at its limit is accepted.
        [Test]
        static void WriterOrderAndCountLimits()
        {
            using (var w = new Writer(0, Endian.Big))
            {
                w.StringU16(new byte[] { 0x61 });
                w.SetEndian(Endian.Little);
                w.StringU16(new byte[] { 0x62, 0x63 });
                w.U24(0x010203);
                w.PatchU16(0, 0x0102);
                Bytes(Of("02 01 61 02 00 62 63 03 02 01"), w.ToArray(), "a 16-bit count in each order, then patched");
                w.StringU8(new byte[255]);
                w.StringU16(new byte[65535]);
                Equal(10UL + 256 + 65537, w.Length, "counts at their limits");
                Fails(Status.InvalidArg, () => w.SetEndian((Endian)2), "SetEndian(2)");
                w.U24(0x040506);
                Bytes(Of("06 05 04"), w.ToArray().Skip(w.ToArray().Length - 3).ToArray(), "the order kept after a refused SetEndian");
            }
        }

        // Counts and offsets as int: the same as ulong, a negative one refused.
        [Test]
        static void IntCountsAndOffsets()
        {
            byte[] data = { 0x61, 0x62, 0x00, 0x04, 0x05, 0x06, 0x07, 0x08 };
            var rows = new[]
            {
                Tuple.Create<string, Func<Reader, object>, Func<Reader, object>>("Skip", r => { r.Skip(2); return r.Tell(); }, r => { r.Skip(2UL); return r.Tell(); }),
                Tuple.Create<string, Func<Reader, object>, Func<Reader, object>>("Seek", r => { r.Seek(3); return r.U8(); }, r => { r.Seek(3UL); return r.U8(); }),
                Tuple.Create<string, Func<Reader, object>, Func<Reader, object>>("Bytes", r => Hex(r.Bytes(3)), r => Hex(r.Bytes(3UL))),
                Tuple.Create<string, Func<Reader, object>, Func<Reader, object>>("Ascii", r => Hex(r.Ascii(2)), r => Hex(r.Ascii(2UL))),
                Tuple.Create<string, Func<Reader, object>, Func<Reader, object>>("Bits", r => r.Bits(12), r => r.Bits(12u)),
                Tuple.Create<string, Func<Reader, object>, Func<Reader, object>>("Sub", r => r.Sub(2).U16(), r => r.Sub(2UL).U16()),
                Tuple.Create<string, Func<Reader, object>, Func<Reader, object>>("CString", r => Hex(r.CString(4)), r => Hex(r.CString(4UL))),
                Tuple.Create<string, Func<Reader, object>, Func<Reader, object>>("CStringAt", r => Hex(r.CStringAt(1, 4)), r => Hex(r.CStringAt(1UL, 4UL))),
                Tuple.Create<string, Func<Reader, object>, Func<Reader, object>>("U16At", r => r.U16At(3), r => r.U16At(3UL)),
                Tuple.Create<string, Func<Reader, object>, Func<Reader, object>>("U64At", r => r.U64At(0), r => r.U64At(0UL)),
                Tuple.Create<string, Func<Reader, object>, Func<Reader, object>>("LsbBitReader.Read", r => r.LsbBits().Read(9), r => r.LsbBits().Read(9u)),
                Tuple.Create<string, Func<Reader, object>, Func<Reader, object>>("LsbBitReader.Read of 64", r => r.LsbBits().Read(64), r => r.LsbBits().Read(64u)),
            };
            foreach (var row in rows)
                using (Reader a = new Reader(data), b = new Reader(data))
                    Equal(row.Item3(b), row.Item2(a), row.Item1 + "(int) as " + row.Item1 + "(ulong)");
            var negative = new Action<Reader>[]
            {
                r => r.Skip(-1), r => r.Seek(-1), r => r.Bytes(-1), r => r.Ascii(-1), r => r.Sub(-1), r => r.CString(-1),
                r => r.CStringAt(-1, 1), r => r.CStringAt(0, -1), r => r.U8At(-1), r => r.U32At(-4),
            };
            using (var r = new Reader(data))
                for (int i = 0; i < negative.Length; i++)
                {
                    Throws<ArgumentOutOfRangeException>(() => negative[i](r), "negative count " + i);
                    Equal(0UL, r.Tell(), "nothing moved by negative count " + i);
                }
            using (var r = new Reader(data))
            {
                Equal(Status.InvalidArg, Throws<TavbinException>(() => r.Bits(-1), "Bits(-1)").Status, "Bits(-1) as Bits(0)");
                Equal(Status.InvalidArg, Throws<TavbinException>(() => r.LsbBits().Read(65u), "Read(65u)").Status, "Read(65u)");
            }
        }

        // Strings whose count over runs the limit or the data: nothing consumed, the
        // bit position included, and Eof and InvalidArg recorded as the C reads would.
        // The 32-bit LEB128 reads, as Sleb128, skip a partly read byte first and leave
        // it skipped (Item5: the cursor after the failure).
        [Test]
        static void PrefixedStringFailuresConsumeNothing()
        {
            var rows = new[]
            {
                Tuple.Create("StringU8 over its limit", Of("f0 05 61"), Status.TooLarge, (Action<Reader>)(r => r.StringU8(4)), 0UL),
                Tuple.Create("StringU8 past the end", Of("f0 05 61"), Status.Eof, (Action<Reader>)(r => r.StringU8()), 0UL),
                Tuple.Create("StringU16 past the end", Of("f0 00 02 61"), Status.Eof, (Action<Reader>)(r => r.StringU16()), 0UL),
                Tuple.Create("StringLeb128 count cut short", Of("f0 80"), Status.Eof, (Action<Reader>)(r => r.StringLeb128()), 0UL),
                Tuple.Create("Leb128U32 too large", Of("f0 ff ff ff ff 10"), Status.InvalidArg, (Action<Reader>)(r => r.Leb128U32()), 1UL),
                Tuple.Create("Sleb128I32 too long", Of("f0 80 80 80 80 80 00"), Status.InvalidArg, (Action<Reader>)(r => r.Sleb128I32()), 1UL),
            };
            foreach (var row in rows)
                using (var r = new Reader(row.Item2))
                {
                    r.Bits(4);
                    Fails(row.Item3, () => row.Item4(r), row.Item1);
                    Equal(row.Item5, r.Tell(), row.Item1 + ": the cursor");
                    if (row.Item3 != Status.TooLarge)
                        Equal(row.Item3, r.LastError, row.Item1 + ": recorded");
                    if (row.Item5 == 0)
                        Equal(0UL, r.Bits(4), row.Item1 + ": the rest of the partly read byte still there");
                }
            // From a whole byte, with eight bytes or more left: still recorded.
            var whole = new[]
            {
                Tuple.Create("StringU8 of 9, 7 bytes after", Of("09 01 02 03 04 05 06 07"), (Action<Reader>)(r => r.StringU8())),
                Tuple.Create("StringU32 of 9, 8 bytes after", Of("00 00 00 09 01 02 03 04 05 06 07 08"), (Action<Reader>)(r => r.StringU32())),
            };
            foreach (var row in whole)
                using (var r = new Reader(row.Item2))
                {
                    Fails(Status.Eof, () => row.Item3(r), row.Item1);
                    Equal(0UL, r.Tell(), row.Item1 + ": the cursor");
                    Equal(Status.Eof, r.LastError, row.Item1 + ": recorded");
                }
            using (var w = new Writer())
            {
                w.U8(9);
                Fails(Status.TooLarge, () => w.StringU8(new byte[256]), "Writer.StringU8 of 256 bytes");
                Fails(Status.TooLarge, () => w.StringU16(new byte[65536]), "Writer.StringU16 of 65536 bytes");
                Equal(1UL, w.Length, "nothing appended");
                w.StringU16(new byte[300]);
                w.StringLeb128(new byte[300]);
                Equal(1UL + 302 + 302, w.Length, "a 16-bit and a two-byte LEB128 count");
            }
        }

#if NET
        // The ...Memory reads return slices of the caller's own memory, read as their
        // namesakes read.
        [Test]
        static void SlicesOfTheInput()
        {
            byte[] backing = Of("ff 03 61 62 63 6e 61 6d 65 00 00 02 68 69 00 00 00 01 7a 02 79 78");
            using (var r = new Reader(new ReadOnlyMemory<byte>(backing, 1, backing.Length - 1)))
            {
                ReadOnlyMemory<byte> s = r.StringU8Memory();
                True(MemoryMarshal.TryGetArray(s, out ArraySegment<byte> seg) && seg.Array == backing && seg.Offset == 2 && seg.Count == 3,
                     "StringU8Memory is a slice of the input");
                Bytes(Of("6e 61 6d 65"), r.CStringMemory(9).ToArray(), "CStringMemory");
                Bytes(Of("61 62 63 6e 61 6d 65"), r.CStringAtMemory(1, 9).ToArray(), "CStringAtMemory at an offset in the memory");
                Bytes(Of("68 69"), r.StringU16Memory().ToArray(), "StringU16Memory");
                Bytes(Of("7a"), r.StringU32Memory().ToArray(), "StringU32Memory");
                using (Reader sub = r.Sub(3))
                {
                    Bytes(Of("79 78"), sub.StringLeb128Memory().ToArray(), "StringLeb128Memory of a sub-reader");
                    Fails(Status.Eof, () => sub.BytesMemory(1), "BytesMemory past the end");
                }
                r.Seek(1);
                Bytes(Of("61 62 63"), r.AsciiMemory(3).ToArray(), "AsciiMemory");
                Bytes(Of("6e"), r.BytesMemory(1).ToArray(), "BytesMemory");
                Fails(Status.TooLarge, () => r.CStringMemory(2), "CStringMemory over its limit");
            }
        }

        [Test]
        static void SpansAndMemory()
        {
            byte[] backing = { 0xAA, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06 };
            using (var r = new Reader(new ReadOnlyMemory<byte>(backing, 1, 5), Endian.Little))
            {
                Equal(0x04030201u, r.U32(), "U32 over a memory slice");
                Span<byte> one = stackalloc byte[2];
                Equal(Status.Eof, Throws<TavbinException>(() => { Span<byte> two = stackalloc byte[2]; r.Bytes(two); }, "Bytes(2) of 1").Status, "Bytes(span) beyond the end");
                r.Bytes(one.Slice(0, 1));
                Equal((byte)5, one[0], "Bytes(span)");
            }
            using (var r = new Reader(ReadOnlyMemory<byte>.Empty))
                Equal(0UL, r.Size, "empty memory");
            Span<byte> buf = stackalloc byte[8];
            Library.StoreU32(buf, 0xCAFEF00D, Endian.Big);
            Equal(0xCAFEF00Du, Library.LoadU32(buf, Endian.Big), "span store and load");
            Equal((ushort)0xFECA, Library.LoadU16(buf, Endian.Little), "LoadU16 little");
            Library.StoreU64(buf, 1, Endian.Little);
            Equal(1UL, Library.LoadU64(buf, Endian.Little), "StoreU64/LoadU64");
            Library.StoreU16(buf.Slice(6), 0x0102, Endian.Big);
            Equal(0x0102u, Library.LoadU32(buf.Slice(4), Endian.Big), "StoreU16 into a slice");
            Equal(Status.Eof, Throws<TavbinException>(() => Library.LoadU64(new byte[7].AsSpan(), Endian.Big), "LoadU64 of 7").Status, "short span");
            Equal(Status.Range, Throws<TavbinException>(() => Library.StoreU16(Span<byte>.Empty, 1, Endian.Big), "StoreU16 empty").Status, "empty span");
            using (var w = new Writer(0, Endian.Little))
            {
                w.Bytes(new ReadOnlySpan<byte>(backing, 0, 2));
                w.Array<ushort>(new ushort[] { 0x0304 }.AsSpan());
                Bytes(new byte[] { 0xAA, 1, 4, 3 }, w.WrittenSpan.ToArray(), "WrittenSpan");
                using (var r = new Reader(w.ToArray(), Endian.Little))
                {
                    Span<ushort> values = stackalloc ushort[2];
                    r.Array(values);
                    Equal((ushort)0x01AA, values[0], "Array(span)");
                    Equal((ushort)0x0304, values[1], "Array(span)");
                }
            }
        }
#endif
    }
}
