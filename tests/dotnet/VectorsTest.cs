// VectorsTest.cs - the record layer's shared cases (tests/vectors/record.txt, format in
// the README beside it), run through the C# binding: a status in the file is a
// TavbinException with that status and the offset the README gives.

using System;
using System.Collections.Generic;
using System.Globalization;
using System.IO;
using System.Linq;

namespace Tavbin.Tests
{
    static class Vectors
    {
        public sealed class Case
        {
            public string Name;
            public int Line;
            public List<KeyValuePair<int, string[]>> Lines = new List<KeyValuePair<int, string[]>>();
        }

        public static List<Case> Load(string path)
        {
            var cases = new List<Case>();
            string[] lines = File.ReadAllLines(path);
            for (int i = 0; i < lines.Length; i++)
            {
                string text = lines[i];
                int hash = text.IndexOf('#');
                if (hash >= 0)
                    text = text.Substring(0, hash);
                string[] tokens = text.Split(new[] { ' ', '\t' }, StringSplitOptions.RemoveEmptyEntries);
                if (tokens.Length == 0)
                    continue;
                if (tokens[0] == "case")
                    cases.Add(new Case { Name = string.Join(" ", tokens.Skip(1)), Line = i + 1 });
                else if (cases.Count == 0)
                    throw new Failure($"{path}:{i + 1}: a line before the first case");
                else
                    cases[cases.Count - 1].Lines.Add(new KeyValuePair<int, string[]>(i + 1, tokens));
            }
            return cases;
        }

        static byte[] FromHex(string hex)
        {
            if (hex == "-")
                return new byte[0];
            var b = new byte[hex.Length / 2];
            for (int i = 0; i < b.Length; i++)
                b[i] = Convert.ToByte(hex.Substring(2 * i, 2), 16);
            return b;
        }

        static string ToHex(byte[] b) => b.Length == 0 ? "-" : string.Concat(b.Select(x => x.ToString("x2")));

        static readonly Dictionary<string, Status> Statuses = new Dictionary<string, Status>
        {
            ["eof"] = Status.Eof, ["range"] = Status.Range, ["invalid_arg"] = Status.InvalidArg,
            ["too_large"] = Status.TooLarge, ["oom"] = Status.Oom,
        };

        static long I(string s) => long.Parse(s, CultureInfo.InvariantCulture);
        static ulong U(string s) => ulong.Parse(s, CultureInfo.InvariantCulture);
        static string Text(object v) => Convert.ToString(v, CultureInfo.InvariantCulture);

        // The values of KIND as text, read from r, or appended to w from the tokens.
        static string ReadArray(Reader r, string kind, int n)
        {
            switch (kind)
            {
                case "u8": return Join(r, new byte[n]);
                case "i8": return Join(r, new sbyte[n]);
                case "u16": return Join(r, new ushort[n]);
                case "i16": return Join(r, new short[n]);
                case "u32": return Join(r, new uint[n]);
                case "i32": return Join(r, new int[n]);
                case "u64": return Join(r, new ulong[n]);
                case "i64": return Join(r, new long[n]);
                case "f32": return Join(r, new float[n]);
                case "f64": return Join(r, new double[n]);
            }
            throw new Failure("unknown kind " + kind);
        }

        static string Join<T>(Reader r, T[] values) where T : struct
        {
            r.Array(values);
            return string.Join(" ", values.Select(v => Text(v)));
        }

        static void WriteArray(Writer w, string kind, string[] v)
        {
            var inv = CultureInfo.InvariantCulture;
            switch (kind)
            {
                case "u8": w.Array(v.Select(x => byte.Parse(x, inv)).ToArray()); return;
                case "i8": w.Array(v.Select(x => sbyte.Parse(x, inv)).ToArray()); return;
                case "u16": w.Array(v.Select(x => ushort.Parse(x, inv)).ToArray()); return;
                case "i16": w.Array(v.Select(x => short.Parse(x, inv)).ToArray()); return;
                case "u32": w.Array(v.Select(x => uint.Parse(x, inv)).ToArray()); return;
                case "i32": w.Array(v.Select(x => int.Parse(x, inv)).ToArray()); return;
                case "u64": w.Array(v.Select(x => ulong.Parse(x, inv)).ToArray()); return;
                case "i64": w.Array(v.Select(x => long.Parse(x, inv)).ToArray()); return;
                case "f32": w.Array(v.Select(x => float.Parse(x, inv)).ToArray()); return;
                case "f64": w.Array(v.Select(x => double.Parse(x, inv)).ToArray()); return;
            }
            throw new Failure("unknown kind " + kind);
        }

        // Values as the file writes them: floats compared as numbers.
        static bool Same(string expected, string actual)
        {
            if (expected == actual)
                return true;
            string[] e = expected.Split(' '), a = actual.Split(' ');
            return e.Length == a.Length && e.Zip(a, (x, y) =>
                x.Contains('.') && double.TryParse(y, NumberStyles.Float, CultureInfo.InvariantCulture, out double d) &&
                double.Parse(x, CultureInfo.InvariantCulture) == d).All(ok => ok);
        }

        public static void Run(Case c)
        {
            Endian order = Endian.Big;
            Reader r = null;
            Writer w = null;
            LsbBitReader lsb = null;
            bool viaCursor = false, stopped = false;
            // Bits taken from the byte at the cursor, and where the least significant
            // bit first reads began and how far they went: the README's offsets.
            ulong partial = 0, lsbStart = 0, lsbPos = 0;
            try
            {
                foreach (var line in c.Lines)
                {
                    string[] t = line.Value;
                    string where = $"case \"{c.Name}\" line {line.Key}";
                    switch (t[0])
                    {
                        case "order": order = t[1] == "little" ? Endian.Little : Endian.Big; continue;
                        case "data": r = new Reader(FromHex(t[1]), order); continue;
                        case "writer": w = new Writer(0, order); continue;
                        case "via": viaCursor = true; continue;
                        case "out": Assert.Equal(t[1], ToHex(w.ToArray()), where + ": written bytes"); continue;
                    }
                    int arrow = Array.IndexOf(t, "=>");
                    if (arrow < 0)
                        throw new Failure(where + ": no =>");
                    string op = t[0];
                    string[] args = t.Skip(1).Take(arrow - 1).ToArray();
                    string[] outcome = t.Skip(arrow + 1).ToArray();
                    string tell = outcome.Length > 0 && outcome[outcome.Length - 1].StartsWith("@") ? outcome[outcome.Length - 1].Substring(1) : null;
                    if (tell != null)
                        outcome = outcome.Take(outcome.Length - 1).ToArray();
                    if (outcome[0] == "skipped")
                    {
                        Assert.True(viaCursor && stopped, where + ": skipped without a failure before it");
                        continue;
                    }
                    if (stopped)
                        throw new Failure(where + ": a call after the cursor's first failure");
                    string expected = outcome[0] == "ok" ? string.Join(" ", outcome.Skip(1)) : null;
                    ulong before = r != null ? r.Tell() : 0;
                    bool lsbCall = op.StartsWith("lsb") && op != "lsb_begin";
                    string got = null;
                    try
                    {
                        switch (op)
                        {
                            case "u8": got = Text(r.U8()); break;
                            case "i8": got = Text(r.I8()); break;
                            case "u16": got = Text(r.U16()); break;
                            case "i16": got = Text(r.I16()); break;
                            case "u32": got = Text(r.U32()); break;
                            case "i32": got = Text(r.I32()); break;
                            case "u64": got = Text(r.U64()); break;
                            case "i64": got = Text(r.I64()); break;
                            case "f32": got = Text(r.F32()); break;
                            case "f64": got = Text(r.F64()); break;
                            case "bits": got = Text(r.Bits((uint)U(args[0]))); partial = (partial + U(args[0])) % 8; break;
                            case "skip": r.Skip(U(args[0])); got = ""; break;
                            case "leb128": got = Text(r.Leb128(U(args[0]))); break;
                            case "sleb128": got = Text(r.Sleb128(U(args[0]))); break;
                            case "u24": got = Text(r.U24()); break;
                            case "i24": got = Text(r.I24()); break;
                            case "cstring": got = ToHex(r.CString(U(args[0]))); break;
                            case "cstring_at": got = ToHex(r.CStringAt(U(args[0]), U(args[1]))); break;
                            case "string_u8": got = ToHex(r.StringU8(U(args[0]))); break;
                            case "string_u16": got = ToHex(r.StringU16(U(args[0]))); break;
                            case "string_u32": got = ToHex(r.StringU32(U(args[0]))); break;
                            case "string_leb128": got = ToHex(r.StringLeb128(U(args[0]))); break;
                            case "leb128_u32": got = Text(r.Leb128U32()); break;
                            case "sleb128_i32": got = Text(r.Sleb128I32()); break;
                            case "sub":
                                using (Reader s = r.Sub(U(args[0])))
                                    got = ToHex(s.Bytes(s.Size));
                                break;
                            case "array":
                                // A count no C# array or span can hold cannot be asked
                                // for: such a line is passed over, the cursor checked.
                                if (U(args[1]) > int.MaxValue)
                                {
                                    Assert.Equal(U(tell), r.Tell(), where + ": tell");
                                    continue;
                                }
                                got = ReadArray(r, args[0], (int)U(args[1]));
                                break;
                            case "lsb_begin":
                                lsb = r.LsbBits();
                                lsbStart = r.Tell() + (partial != 0 ? 1UL : 0);
                                lsbPos = 0;
                                got = "";
                                break;
                            case "lsb": got = Text(lsb.Read((int)I(args[0]))); lsbPos += U(args[0]); break;
                            case "lsb_align": lsb.Align(); lsbPos = (lsbPos + 7) / 8 * 8; got = ""; break;
                            case "lsb_done": lsb.Done(); got = ""; break;
                            case "w.u8": w.U8((byte)U(args[0])); got = ""; break;
                            case "w.u16": w.U16((ushort)U(args[0])); got = ""; break;
                            case "w.u32": w.U32((uint)U(args[0])); got = ""; break;
                            case "w.u64": w.U64(U(args[0])); got = ""; break;
                            case "w.sleb128": w.Sleb128(I(args[0])); got = ""; break;
                            case "w.string_u8": w.StringU8(FromHex(args[0])); got = ""; break;
                            case "w.string_u16": w.StringU16(FromHex(args[0])); got = ""; break;
                            case "w.string_u32": w.StringU32(FromHex(args[0])); got = ""; break;
                            case "w.string_leb128": w.StringLeb128(FromHex(args[0])); got = ""; break;
                            case "w.u24": w.U24((uint)U(args[0])); got = ""; break;
                            case "w.i24": w.I24((int)I(args[0])); got = ""; break;
                            case "w.array": WriteArray(w, args[0], args.Skip(1).ToArray()); got = ""; break;
                            case "w.patch_u16": w.PatchU16(U(args[0]), (ushort)U(args[1])); got = ""; break;
                            case "w.patch_u32": w.PatchU32(U(args[0]), (uint)U(args[1])); got = ""; break;
                            case "w.patch_u64": w.PatchU64(U(args[0]), U(args[1])); got = ""; break;
                            case "zigzag_encode": got = Text(Library.ZigzagEncode(I(args[0]))); break;
                            case "zigzag_decode": got = Text(Library.ZigzagDecode(U(args[0]))); break;
                            default: throw new Failure(where + ": no C# for the call " + op);
                        }
                        if (!op.StartsWith("lsb") && op != "bits" && !op.StartsWith("w.") && !op.StartsWith("zigzag") && !op.EndsWith("_at"))
                            partial = 0;
                        if (expected == null)
                            throw new Failure($"{where}: {op} succeeded with {got}, expected {outcome[0]}");
                        Assert.True(Same(expected, got), $"{where}: {op} gave {got}, expected {expected}");
                    }
                    catch (TavbinException e)
                    {
                        if (expected != null)
                            throw new Failure($"{where}: {op} failed with {e.Status} at {e.Offset}, expected ok {expected}");
                        Assert.True(Statuses.ContainsKey(outcome[0]), where + ": a status the file does not define");
                        Assert.Equal(Statuses[outcome[0]], e.Status, where + ": status");
                        // An absolute read's offset is the one it was given.
                        if (!op.StartsWith("w.") && r != null)
                            Assert.Equal(lsbCall ? lsbStart + lsbPos / 8 : op.EndsWith("_at") ? U(args[0]) : before, e.Offset, where + ": offset");
                        if (op == "bits" && e.Status == Status.Eof)
                            partial = 0;
                        if (viaCursor)
                            stopped = true;
                    }
                    if (tell != null)
                        Assert.Equal(U(tell), r.Tell(), where + ": tell after the call");
                }
            }
            finally
            {
                if (lsb != null)
                    lsb.Dispose();
                if (r != null)
                    r.Dispose();
                if (w != null)
                    w.Dispose();
            }
        }
    }

    static class VectorsTest
    {
        [Test]
        static void EveryCaseOfTheSharedVectors()
        {
            var failures = new List<string>();
            var cases = Vectors.Load(Runner.VectorsPath);
            Assert.True(cases.Count > 0, "cases in " + Runner.VectorsPath);
            foreach (var c in cases)
            {
                try { Vectors.Run(c); }
                catch (Exception e) { failures.Add(e is Failure ? e.Message : $"case \"{c.Name}\": {e}"); }
            }
            Assert.True(failures.Count == 0, $"{failures.Count} of {cases.Count} cases:\n  " + string.Join("\n  ", failures));
        }
    }
}
