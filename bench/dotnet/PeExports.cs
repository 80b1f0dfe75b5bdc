// A real parser twice: the export table of a PE32+ image (a 64-bit Windows DLL),
// read over the binding and over BinaryPrimitives on a span. Both check every
// offset and count against the file, and both give the same Exports, which
// PeBench compares on every DLL it is given before timing them.
using System;
using System.Buffers.Binary;
using System.Collections.Generic;
using System.Text;
using Tavbin;

public sealed class Export
{
    public string Name;
    public uint Ordinal;
    public uint Rva;
    public string Forwarder; // "OTHER.Function" where the export lives in another DLL, else null
}

public sealed class Exports
{
    public string Dll;                // the name the image gives itself
    public uint Functions;            // the address table's length, named or not
    public List<Export> Named = new List<Export>();

    public override string ToString()
    {
        var b = new StringBuilder();
        b.Append(Dll).Append(' ').Append(Functions).Append('\n');
        foreach (Export e in Named)
            b.Append(e.Ordinal).Append(' ').Append(e.Rva.ToString("x")).Append(' ').Append(e.Name)
                .Append(e.Forwarder == null ? "" : " -> " + e.Forwarder).Append('\n');
        return b.ToString();
    }
}

// The image's sections, to turn an address once loaded (RVA) into a file offset.
struct Section
{
    public uint Va, Size, Raw, RawSize;
}

static class Pe
{
    public const uint MaxName = 4096; // longer than any name in a real DLL
    public const ushort Pe32Plus = 0x20B;

    // The file offset of an RVA, or throws: where the section holds it in the file.
    public static uint Offset(Section[] sections, uint rva)
    {
        foreach (Section s in sections)
        {
            uint size = Math.Max(s.Size, s.RawSize);
            if (rva >= s.Va && rva - s.Va < size && rva - s.Va < s.RawSize)
                return s.Raw + (rva - s.Va);
        }
        throw new FormatException("RVA 0x" + rva.ToString("x") + " is in no section's file data");
    }

    public static string Ascii(ReadOnlySpan<byte> b) => Encoding.ASCII.GetString(b);
}

// Over the binding: one Reader over the file, sub-readers for the headers.
public static class TavbinPe
{
    [ThreadStatic] static uint[] names, functions;
    [ThreadStatic] static ushort[] ordinals;

    // The three calls PE reading leans on, written over today's reader; the binding's
    // CString at an offset and zero-copy reads make each of them a single call.
    // One call, the cursor unmoved, the name a slice of the file: no array per name.
    static string NameAt(Reader r, ulong offset) => Pe.Ascii(r.CStringAtMemory(offset, Pe.MaxName).Span);

    static Reader SubAt(Reader r, ulong offset, ulong n)
    {
        r.Seek(offset);
        return r.Sub(n);
    }

    static Span<T> TableAt<T>(Reader r, ulong offset, uint n, ref T[] buffer) where T : struct
    {
        if (n > r.Size) // more entries than bytes: no buffer that large
            throw new FormatException("a table of " + n + " entries in " + r.Size + " bytes");
        if (buffer == null || buffer.Length < n)
            buffer = new T[Math.Max(n, 256u)];
        Span<T> table = buffer.AsSpan(0, (int)n);
        r.Seek(offset);
        r.Array(table);
        return table;
    }

    // The exports, or null for an image that is not PE32+ or has no export table.
    public static Exports Read(byte[] file)
    {
        using var r = new Reader(file, Endian.Little);
        if (r.U16At(0) != 0x5A4D) // "MZ"
            throw new FormatException("no MZ header");
        uint pe = r.U32At(0x3C);
        Section[] sections;
        uint dirRva, dirSize;
        using (Reader h = SubAt(r, pe, 24))
        {
            if (h.U32() != 0x00004550) // "PE\0\0"
                throw new FormatException("no PE signature");
            h.Skip(2);
            sections = new Section[h.U16()];
            h.Skip(12);
            ushort optional = h.U16();
            using (Reader o = SubAt(r, pe + 24UL, optional))
            {
                if (o.U16() != Pe.Pe32Plus)
                    return null;
                o.Seek(108);
                if (o.U32() == 0) // no data directories
                    return null;
                dirRva = o.U32();
                dirSize = o.U32();
            }
            r.Seek(pe + 24UL + optional);
            for (int i = 0; i < sections.Length; i++)
            {
                r.Skip(8);
                sections[i] = new Section { Size = r.U32(), Va = r.U32(), RawSize = r.U32(), Raw = r.U32() };
                r.Skip(16);
            }
        }
        if (dirRva == 0)
            return null;
        uint dir = Pe.Offset(sections, dirRva);
        var result = new Exports();
        uint nameRva, baseOrdinal, count, namesRva, functionsRva, ordinalsRva;
        using (Reader d = SubAt(r, dir, 40))
        {
            d.Skip(12);
            nameRva = d.U32();
            baseOrdinal = d.U32();
            count = d.U32();
            uint named = d.U32();
            functionsRva = d.U32();
            namesRva = d.U32();
            ordinalsRva = d.U32();
            result.Functions = count;
            result.Named.Capacity = (int)Math.Min(named, (uint)file.Length / 4);
            count = named;
        }
        result.Dll = NameAt(r, Pe.Offset(sections, nameRva));
        if (count == 0)
            return result;
        Span<uint> nameTable = TableAt(r, Pe.Offset(sections, namesRva), count, ref names);
        Span<ushort> ordinalTable = TableAt(r, Pe.Offset(sections, ordinalsRva), count, ref ordinals);
        Span<uint> functionTable = result.Functions == 0 ? default
            : TableAt(r, Pe.Offset(sections, functionsRva), result.Functions, ref functions);
        for (int i = 0; i < nameTable.Length; i++)
        {
            ushort index = ordinalTable[i];
            if (index >= functionTable.Length)
                throw new FormatException("ordinal index " + index + " beyond the address table");
            uint rva = functionTable[index];
            result.Named.Add(new Export
            {
                Name = NameAt(r, Pe.Offset(sections, nameTable[i])),
                Ordinal = baseOrdinal + index,
                Rva = rva,
                Forwarder = rva >= dirRva && rva - dirRva < dirSize ? NameAt(r, Pe.Offset(sections, rva)) : null,
            });
        }
        return result;
    }
}

// The same over BinaryPrimitives: every read a slice of the span, which throws
// ArgumentOutOfRangeException for an offset or count past the end.
public static class SpanPe
{
    static string NameAt(ReadOnlySpan<byte> file, uint offset)
    {
        ReadOnlySpan<byte> rest = file.Slice((int)offset);
        if (rest.Length > Pe.MaxName + 1)
            rest = rest.Slice(0, (int)Pe.MaxName + 1);
        int end = rest.IndexOf((byte)0);
        if (end < 0)
            throw new FormatException("a name without its NUL");
        return Pe.Ascii(rest.Slice(0, end));
    }

    static ushort U16(ReadOnlySpan<byte> f, uint at) => BinaryPrimitives.ReadUInt16LittleEndian(f.Slice((int)at));
    static uint U32(ReadOnlySpan<byte> f, uint at) => BinaryPrimitives.ReadUInt32LittleEndian(f.Slice((int)at));

    public static Exports Read(byte[] bytes)
    {
        ReadOnlySpan<byte> file = bytes;
        if (U16(file, 0) != 0x5A4D)
            throw new FormatException("no MZ header");
        uint pe = U32(file, 0x3C);
        ReadOnlySpan<byte> h = file.Slice(checked((int)pe), 24);
        if (U32(h, 0) != 0x00004550)
            throw new FormatException("no PE signature");
        var sections = new Section[U16(h, 6)];
        ushort optionalSize = U16(h, 20);
        ReadOnlySpan<byte> o = file.Slice(checked((int)pe + 24), optionalSize);
        if (U16(o, 0) != Pe.Pe32Plus || U32(o, 108) == 0)
            return null;
        uint dirRva = U32(o, 112), dirSize = U32(o, 116);
        ReadOnlySpan<byte> table = file.Slice(checked((int)pe + 24 + optionalSize), checked(40 * sections.Length));
        for (int i = 0; i < sections.Length; i++)
        {
            ReadOnlySpan<byte> s = table.Slice(40 * i, 40);
            sections[i] = new Section { Size = U32(s, 8), Va = U32(s, 12), RawSize = U32(s, 16), Raw = U32(s, 20) };
        }
        if (dirRva == 0)
            return null;
        ReadOnlySpan<byte> d = file.Slice((int)Pe.Offset(sections, dirRva), 40);
        var result = new Exports { Functions = U32(d, 20) };
        uint count = U32(d, 24), baseOrdinal = U32(d, 16);
        result.Named.Capacity = (int)Math.Min(count, (uint)file.Length / 4);
        result.Dll = NameAt(file, Pe.Offset(sections, U32(d, 12)));
        if (count == 0)
            return result;
        ReadOnlySpan<byte> names = file.Slice((int)Pe.Offset(sections, U32(d, 32)), checked((int)count * 4));
        ReadOnlySpan<byte> ordinals = file.Slice((int)Pe.Offset(sections, U32(d, 36)), checked((int)count * 2));
        ReadOnlySpan<byte> functions = result.Functions == 0 ? default
            : file.Slice((int)Pe.Offset(sections, U32(d, 28)), checked((int)result.Functions * 4));
        for (int i = 0; i < (int)count; i++)
        {
            ushort index = BinaryPrimitives.ReadUInt16LittleEndian(ordinals.Slice(2 * i));
            if (index >= functions.Length / 4)
                throw new FormatException("ordinal index " + index + " beyond the address table");
            uint rva = BinaryPrimitives.ReadUInt32LittleEndian(functions.Slice(4 * index));
            result.Named.Add(new Export
            {
                Name = NameAt(file, Pe.Offset(sections, BinaryPrimitives.ReadUInt32LittleEndian(names.Slice(4 * i)))),
                Ordinal = baseOrdinal + index,
                Rva = rva,
                Forwarder = rva >= dirRva && rva - dirRva < dirSize ? NameAt(file, Pe.Offset(sections, rva)) : null,
            });
        }
        return result;
    }
}
