// The cost of one value read through the binding, against the framework's readers
// over the same 4,000 bytes. Each benchmark reads 1,000 values and reports the time
// per value. TAVBIN_LIBRARY names the module to load. PeBench.cs is the other
// half: a real parser over the binding and over BinaryPrimitives.
using System;
using System.Buffers.Binary;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using BenchmarkDotNet.Attributes;
using BenchmarkDotNet.Running;
using Tavbin;

[DisassemblyDiagnoser(maxDepth: 0)]
public class Calls
{
    const int N = 1000;
    readonly byte[] data = new byte[4 * N];
    readonly uint[] values = new uint[N];
    Reader little, big;
    BinaryReader framework;
    SafeHandle probe;

    [GlobalSetup]
    public void Setup()
    {
        new Random(1).NextBytes(data);
        little = new Reader(data, Endian.Little);
        big = new Reader(data, Endian.Big);
        framework = new BinaryReader(new MemoryStream(data));
        probe = new Microsoft.Win32.SafeHandles.SafeFileHandle(new IntPtr(1), false);
    }

    [GlobalCleanup]
    public void Cleanup()
    {
        little.Dispose();
        big.Dispose();
    }

    [Benchmark(Baseline = true, OperationsPerInvoke = N, Description = "BinaryReader.ReadUInt32 (MemoryStream)")]
    public uint BinaryReaderU32()
    {
        framework.BaseStream.Position = 0;
        uint sum = 0;
        for (int i = 0; i < N; i++)
            sum += framework.ReadUInt32();
        return sum;
    }

    [Benchmark(OperationsPerInvoke = N, Description = "Reader.U32")]
    public uint ReaderU32()
    {
        little.Seek(0);
        uint sum = 0;
        for (int i = 0; i < N; i++)
            sum += little.U32();
        return sum;
    }

    [Benchmark(OperationsPerInvoke = N, Description = "BinaryPrimitives.ReadUInt32BigEndian loop")]
    public uint PrimitivesLoop()
    {
        ReadOnlySpan<byte> s = data;
        uint sum = 0;
        for (int i = 0; i < N; i++)
        {
            values[i] = BinaryPrimitives.ReadUInt32BigEndian(s.Slice(4 * i));
            sum += values[i];
        }
        return sum;
    }

    [Benchmark(OperationsPerInvoke = N, Description = "Reader.Array<uint> (big-endian)")]
    public uint ReaderArray()
    {
        big.Seek(0);
        big.Array<uint>(values.AsSpan());
        return values[N - 1];
    }

    // The fixed costs of a parser over the binding: a reader over an array (pinned
    // while it lives), and a sub-reader, each disposed again.
    [Benchmark(OperationsPerInvoke = N, Description = "new Reader(byte[]) + Dispose")]
    public ulong OpenDispose()
    {
        ulong size = 0;
        for (int i = 0; i < N; i++)
        {
            using var r = new Reader(data, Endian.Little);
            size += r.Size;
        }
        return size;
    }

    [Benchmark(OperationsPerInvoke = N, Description = "Reader.Seek + Sub(40) + Dispose")]
    public ulong SubDispose()
    {
        ulong size = 0;
        for (int i = 0; i < N; i++)
        {
            little.Seek(0);
            using var sub = little.Sub(40);
            size += sub.Size;
        }
        return size;
    }

    // What the SafeHandle's reference count costs each call: the add and release the
    // marshaller makes around it.
    [Benchmark(OperationsPerInvoke = N, Description = "SafeHandle AddRef + Release")]
    public int SafeHandleCount()
    {
        int held = 0;
        for (int i = 0; i < N; i++)
        {
            bool added = false;
            probe.DangerousAddRef(ref added);
            probe.DangerousRelease();
            held += added ? 1 : 0;
        }
        return held;
    }
}

public static class Program
{
    // "pe DIR..." runs the PE export readers side by side (PeBench.cs); "smoke" calls
    // each benchmark once, outside BenchmarkDotNet (its in-process run cannot take the
    // disassembler, and a generated project takes a minute to build); anything else
    // goes to BenchmarkDotNet.
    public static int Main(string[] args)
    {
        if (args.Length > 0 && args[0] == "pe")
            return PeBench.Run(args.Skip(1).ToArray());
        if (args.Length > 0 && args[0] == "smoke")
        {
            var calls = new Calls();
            calls.Setup();
            var benchmarks = typeof(Calls).GetMethods().Where(m => m.IsDefined(typeof(BenchmarkAttribute), false)).ToList();
            foreach (var m in benchmarks)
                m.Invoke(calls, null);
            calls.Cleanup();
            Console.WriteLine($"smoke: each of the {benchmarks.Count} benchmarks ran once (nothing measured)");
            return 0;
        }
        BenchmarkSwitcher.FromAssembly(typeof(Calls).Assembly).Run(args);
        return 0;
    }
}
