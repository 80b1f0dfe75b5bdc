// LifetimeTest.cs - pinning, disposal and finalisation of the handles, and handles
// on several threads.

using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using System.Threading;
using Tavbin.Core;

namespace Tavbin.Tests
{
    static class LifetimeTest
    {
        static void CollectEverything() => Runner.CollectEverything();

        // Mono scans stacks conservatively, so a stale word in a frame could keep an
        // array reachable: the arrays are made on a thread of their own, whose stack is
        // gone when it ends.
        static T OnAnotherThread<T>(Func<T> make)
        {
            T made = default(T);
            var t = new Thread(() => made = make());
            t.Start();
            t.Join();
            return made;
        }

        static Reader OverFreshArray(out WeakReference array)
        {
            var made = OnAnotherThread(() =>
            {
                var data = new byte[] { 0xDE, 0xAD, 0xBE, 0xEF, 0x11, 0x22, 0x33, 0x44 };
                return Tuple.Create(new Reader(data, Endian.Little), new WeakReference(data));
            });
            array = made.Item2;
            return made.Item1;
        }

        [Test]
        static void ReaderKeepsItsArrayUntilDisposed()
        {
            Reader r = OverFreshArray(out WeakReference array);
            Enumerable.Range(0, 2000).Select(i => new byte[1000]).ToList();
            CollectEverything();
            Assert.True(array.IsAlive, "the array lives while the reader does");
            Assert.Equal(0xEFBEADDEu, r.U32(), "U32 after collections");
            Assert.Equal(0x44332211u, r.U32At(4), "U32At after collections");
            r.Dispose();
            CollectEverything();
            Assert.True(!array.IsAlive, "the array is unpinned once the reader is disposed");
        }

#if NET
        // A reader over memory unpins it when disposed.
        [Test]
        static void ReaderOverMemoryUnpinsWhenDisposed()
        {
            WeakReference array = OnAnotherThread(() =>
            {
                var data = new byte[] { 1, 2, 3, 4 };
                var r = new Reader(new ReadOnlyMemory<byte>(data, 1, 3));
                r.U8();
                r.Dispose();
                return new WeakReference(data);
            });
            CollectEverything();
            Assert.True(!array.IsAlive, "the memory is unpinned once the reader is disposed");
        }
#endif

        // An open that fails lets go of the array at once.
        [Test]
        static void FailedOpenUnpins()
        {
            WeakReference array = OnAnotherThread(() =>
            {
                var data = new byte[] { 1, 2, 3 };
                try { new Reader(data, (Endian)2); }
                catch (TavbinException) { }
#if NET
                try { new Reader(new ReadOnlyMemory<byte>(data), (Endian)2); }
                catch (TavbinException) { }
#endif
                return new WeakReference(data);
            });
            CollectEverything();
            Assert.True(!array.IsAlive, "the array of a failed open is unpinned");
        }

        [Test]
        static void EveryCallAfterDisposeThrows()
        {
            var r = new Reader(new byte[16]);
            var w = new Writer();
            LsbBitReader lsb = r.LsbBits();
            r.Dispose();
            w.Dispose();
            r.Dispose();
            w.Dispose();
            var calls = new Action[]
            {
                () => r.U8(), () => r.I64(), () => r.F64(), () => r.Bits(3), () => r.Leb128(), () => r.Bytes(1),
                () => r.Ascii(0), () => r.StringU32(), () => r.Skip(1), () => r.PeekU32(), () => r.U64At(0),
                () => r.Seek(0), () => r.Tell(), () => r.Remaining(), () => r.BitAlign(),
                () => r.SetEndian(Endian.Big), () => { var x = r.Size; }, () => { var x = r.Origin; },
                () => { var x = r.LastError; }, () => lsb.Read(1),
                () => w.U8(1), () => w.F32(1), () => w.Leb128(1), () => w.Bytes(new byte[1]),
                () => w.StringU32(new byte[0]), () => w.ToArray(), () => w.SetEndian(Endian.Little),
                () => { var x = w.Length; }, () => { var x = w.LastError; },
            };
            for (int i = 0; i < calls.Length; i++)
                Assert.Throws<ObjectDisposedException>(calls[i], "call " + i + " after Dispose");
        }

        // Dispose lets go of the handle and the pin at once, not at the next collection.
        [Test]
        static void DisposeReleasesAtOnce()
        {
            int before = Checks.Held;
            var w = new Writer();
            var r = new Reader(new byte[4]);
            Reader sub = r.Sub(2);
            Assert.True(Checks.Held > before, "held while open");
            w.Dispose();
            r.Dispose();
            Assert.True(Checks.Held > before, "the parent's bytes held for its sub-reader");
            sub.Dispose();
            Assert.Equal(before, Checks.Held, "nothing held once all are disposed");
        }

        // A disposed reader refuses every call at once, though a reader cut from it
        // still holds its bytes and keeps working.
        [Test]
        static void DisposedParentRefusesWhileItsSubLives()
        {
            var r = new Reader(new byte[] { 1, 2, 3, 4, 5, 6, 7, 8 });
            Reader sub = r.Sub(4);
            r.Dispose();
            Assert.Throws<ObjectDisposedException>(() => r.U8(), "U8 after the parent's Dispose");
            Assert.Throws<ObjectDisposedException>(() => r.Tell(), "Tell after the parent's Dispose");
            Assert.Throws<ObjectDisposedException>(() => r.Sub(1), "Sub after the parent's Dispose");
            Assert.Throws<ObjectDisposedException>(() => { var x = r.Size; }, "Size after the parent's Dispose");
            Assert.Equal(0x01020304u, sub.U32(), "the sub-reader reads on");
            sub.Dispose();
        }

        // Threads sharing one reader and one writer, every kind of call mixed, while
        // another disposes both at a random moment: each call completes (a block its
        // full size) or throws ObjectDisposedException, TavbinException or, for a call
        // made while another thread's runs, InvalidOperationException; anything else,
        // or a crash, fails. Rounds for a few seconds.
        [Test]
        static void SharedHandlesWithADisposer()
        {
            byte[] data = new byte[256];
            for (int i = 0; i < data.Length; i++)
                data[i] = (byte)(i % 7 == 0 ? 0 : i % 5);
            var readerCalls = new Action<Reader, Random>[]
            {
                (r, x) => r.U8(), (r, x) => r.I8(), (r, x) => r.U16(), (r, x) => r.I16(), (r, x) => r.U32(),
                (r, x) => r.I32(), (r, x) => r.F32(), (r, x) => r.U64(), (r, x) => r.I64(), (r, x) => r.F64(),
                (r, x) => r.U24(), (r, x) => r.I24(), (r, x) => r.Bits(x.Next(1, 65)), (r, x) => r.Leb128(),
                (r, x) => r.Sleb128(), (r, x) => r.Leb128U32(), (r, x) => r.Sleb128I32(), (r, x) => r.Skip(x.Next(4)),
                (r, x) => Expect(48, r.Bytes(48).Length, "Bytes(48)"), (r, x) => Expect(5, r.Ascii(5).Length, "Ascii(5)"),
                (r, x) => r.StringU32(8), (r, x) => r.StringU8(), (r, x) => r.StringU16(300), (r, x) => r.StringLeb128(9),
                (r, x) => r.CString(16), (r, x) => r.CStringAt(x.Next(300), 9), (r, x) => r.PeekU8(), (r, x) => r.PeekU64(),
                (r, x) => r.U8At(x.Next(300)), (r, x) => r.U64At(x.Next(300)), (r, x) => r.Seek(x.Next(300)),
                (r, x) => r.Tell(), (r, x) => r.Remaining(), (r, x) => GC.KeepAlive(r.Size + r.Origin),
                (r, x) => GC.KeepAlive(r.LastError), (r, x) => r.BitAlign(), (r, x) => r.SetEndian(x.Next(2) == 0 ? Endian.Big : Endian.Little),
                (r, x) => r.Array(new uint[x.Next(4)]), (r, x) => r.Array(new double[1]),
                (r, x) => { using (Reader s = r.Sub(x.Next(9))) { s.Bytes(s.Size); s.Dispose(); } },
                (r, x) => { using (LsbBitReader b = r.LsbBits()) b.Read(x.Next(1, 20)); },
#if NET
                (r, x) => Expect(6, r.BytesMemory(6).Length, "BytesMemory(6)"), (r, x) => r.CStringMemory(9),
                (r, x) => r.StringU32Memory(9), (r, x) => r.StringLeb128Memory(9), (r, x) => r.Array(new ushort[2].AsSpan()),
#endif
            };
            var writerCalls = new Action<Writer, Random>[]
            {
                (w, x) => w.U8(1), (w, x) => w.U16(2), (w, x) => w.I16(-2), (w, x) => w.U32(3), (w, x) => w.I32(-3),
                (w, x) => w.F32(1), (w, x) => w.U64(4), (w, x) => w.I64(-4), (w, x) => w.F64(2), (w, x) => w.Leb128(300),
                (w, x) => w.Sleb128(-300), (w, x) => w.U24(5), (w, x) => w.I24(-5), (w, x) => w.Bytes(new byte[x.Next(200)]),
                (w, x) => w.StringU32(new byte[3]), (w, x) => w.StringU8(new byte[x.Next(300)]), (w, x) => w.StringU16(new byte[2]),
                (w, x) => w.StringLeb128(new byte[130]), (w, x) => w.PatchU32((ulong)x.Next(64), 7), (w, x) => w.PatchU16(0, 1),
                (w, x) => w.Array(new ushort[x.Next(9)]), (w, x) => w.ToArray(), (w, x) => GC.KeepAlive(w.Length),
                (w, x) => GC.KeepAlive(w.LastError), (w, x) => w.SetEndian(Endian.Little),
#if NET
                (w, x) => w.Bytes(new byte[3].AsSpan()), (w, x) => GC.KeepAlive(w.WrittenSpan.Length),
#endif
            };
            // TAVBIN_STRESS_MS shortens it (the mutation pass runs it once a mutant).
            string limit = Environment.GetEnvironmentVariable("TAVBIN_STRESS_MS");
            long ms = limit != null ? long.Parse(limit) : 3000;
            var clock = System.Diagnostics.Stopwatch.StartNew();
            int rounds = 0, calls = 0, refused = 0;
            Exception wrong = null;
            while (clock.ElapsedMilliseconds < ms && wrong == null)
            {
                var r = new Reader(data);
                var w = new Writer(8);
                int stop = 0;
                var workers = Enumerable.Range(0, 3).Select(t => new Thread(() =>
                {
                    var x = new Random(t * 7919 + rounds);
                    while (Volatile.Read(ref stop) == 0)
                    {
                        try
                        {
                            if (x.Next(3) == 0)
                                writerCalls[x.Next(writerCalls.Length)](w, x);
                            else
                                readerCalls[x.Next(readerCalls.Length)](r, x);
                            Interlocked.Increment(ref calls);
                        }
                        catch (ObjectDisposedException) { }
                        catch (TavbinException) { }
                        catch (InvalidOperationException) { Interlocked.Increment(ref refused); }
                        catch (Exception e) { wrong = e; return; }
                    }
                })).ToList();
                workers.ForEach(t => t.Start());
                Thread.Sleep(rounds % 4);
                var disposer = new Thread(() => { r.Dispose(); w.Dispose(); });
                disposer.Start();
                disposer.Join();
                Thread.Sleep(1);
                Volatile.Write(ref stop, 1);
                workers.ForEach(t => t.Join());
                rounds++;
            }
            Assert.True(wrong == null, "round " + rounds + ": " + wrong);
            Assert.True(rounds > 2 && calls > 100, rounds + " rounds, " + calls + " calls");
            Console.WriteLine("        {0} rounds, {1} calls completed, {2} refused as concurrent", rounds, calls, refused);
        }

        static void Expect(int expected, int actual, string what)
        {
            if (expected != actual)
                throw new Failure(what + " returned " + actual + " bytes");
        }

        static List<WeakReference> Abandon(int count) => OnAnotherThread(() =>
        {
            var arrays = new List<WeakReference>();
            for (int i = 0; i < count; i++)
            {
                var data = new byte[] { (byte)i, 1, 2, 3 };
                arrays.Add(new WeakReference(data));
                new Reader(data).U16();
                new Writer(16, Endian.Little).U32((uint)i);
            }
            return arrays;
        });

        [Test]
        static void AbandonedHandlesAreFinalised()
        {
            List<WeakReference> arrays = Abandon(20000);
            CollectEverything();
            // Each array is free again only once its reader's finaliser has released it.
            Assert.Equal(0, arrays.Count(a => a.IsAlive), "arrays still pinned after finalisation");
        }

        // A Dispose on another thread while reads run: each read either completes or
        // throws ObjectDisposedException, never runs on a freed reader, and the reader
        // is released in the end (Runner checks that nothing is held).
        [Test]
        static void DisposeWhileReading()
        {
            byte[] data = new byte[64];
            int completed = 0;
            for (int round = 0; round < 300; round++)
            {
                var r = new Reader(data);
                Exception other = null;
                var reading = new Thread(() =>
                {
                    try
                    {
                        for (;;)
                        {
                            if (r.Remaining() < 8)
                                r.Seek(0);
                            r.U32();
                            r.U16();
                            r.U8();
                            r.U8();
                        }
                    }
                    catch (ObjectDisposedException) { Interlocked.Increment(ref completed); }
                    catch (Exception e) { other = e; }
                });
                reading.Start();
                Thread.Sleep(round % 3);
                r.Dispose();
                reading.Join();
                Assert.True(other == null, "round " + round + ": " + other);
            }
            Assert.Equal(300, completed, "reads stopped by ObjectDisposedException");
        }

        // glibc's count of the bytes malloc has handed out and not had back.
        [StructLayout(LayoutKind.Sequential)]
        struct MallInfo2
        {
            public UIntPtr Arena, Ordblks, Smblks, Hblks, Hblkhd, Usmblks, Fsmblks, Uordblks, Fordblks, Keepcost;
        }

        [DllImport("libc.so.6")]
        static extern MallInfo2 mallinfo2();

        // Disposing a reader or writer gives the module's memory back: 20,000 of each
        // would keep well over a megabyte otherwise.
        [Test]
        static void DisposeFreesTheModulesMemory()
        {
            if (!File.Exists("/proc/self/maps"))
                return; // glibc's count is for Linux only
            byte[] data = new byte[8];
            Func<long> inUse = () => (long)mallinfo2().Uordblks.ToUInt64();
            // The least growth of three passes: the first warms up, and the runtime's own
            // allocations (a method compiled again, optimised) may fall into any one;
            // a leak grows every pass.
            long growth = long.MaxValue;
            for (int pass = 0; pass < 3; pass++)
            {
                long before = inUse();
                for (int i = 0; i < 20000; i++)
                {
                    new Reader(data).Dispose();
                    using (var w = new Writer(16))
                    using (var r = new Reader(data))
                        r.Sub(4).Dispose();
                    new Writer(16).Dispose();
                }
                growth = Math.Min(growth, inUse() - before);
            }
            Assert.True(growth < 256 * 1024, "the module's memory grew by " + growth + " bytes");
        }

        // Threads sharing one reader of 4-byte values, each read by a fixed-width
        // read (which on .NET the thread that keeps the reader, at first the one that
        // made it, may make unguarded) or in an array (always guarded): no two calls
        // run on the C reader at once, so every value is read exactly once, whichever
        // thread reads it.
        [Test]
        static void SharedReadsTakeEachValueOnce()
        {
            const int count = 1 << 20;
            byte[] data = new byte[4 * count];
            for (int i = 0; i < count; i++)
                Library.StoreU32(data, 4 * i, (uint)i, Endian.Little);
            var seen = new int[count];
            Exception wrong = null;
            int ready = 0; // threads at the start line (no Barrier: under Wine its use
                           // brings .NET down at the next collection)
            using (var r = new Reader(data, Endian.Little))
            {
                Action<int> read = t =>
                {
                    var x = new Random(t);
                    Interlocked.Increment(ref ready);
                    while (Volatile.Read(ref ready) < 3)
                        Thread.Yield();
                    // A long array is a long C call, for a read on the fast path to overlap.
                    var arrays = new[] { new uint[3], new uint[16], new uint[64] };
                    // The thread that made the reader reads single values only.
                    bool arraysLeft = t != 0; // until one fails for want of values
                    try
                    {
                        for (;;)
                        {
                            try
                            {
                                if (arraysLeft)
                                {
                                    uint[] some = arrays[x.Next(arrays.Length)];
                                    r.Array(some);
                                    foreach (uint v in some)
                                        Interlocked.Increment(ref seen[v]);
                                }
                                else
                                    Interlocked.Increment(ref seen[r.U32()]);
                            }
                            catch (InvalidOperationException) { Thread.Yield(); }
                            catch (TavbinException e) when (e.Status == Status.Eof && arraysLeft)
                            {
                                arraysLeft = false;
                            }
                        }
                    }
                    catch (TavbinException e) when (e.Status == Status.Eof) { }
                    catch (Exception e) { wrong = e; }
                };
                var others = Enumerable.Range(1, 2).Select(t => new Thread(() => read(t))).ToList();
                others.ForEach(t => t.Start());
                read(0);
                others.ForEach(t => t.Join());
            }
            Assert.True(wrong == null, "a shared read failed: " + wrong);
            int[] wrongCounts = Enumerable.Range(0, count).Where(v => seen[v] != 1).Take(5).ToArray();
            Assert.True(wrongCounts.Length == 0, "values not read exactly once: " +
                        string.Join(", ", wrongCounts.Select(v => v + " read " + seen[v] + " times")));
        }

        [Test]
        static void SeparateHandlesOnSeveralThreads()
        {
            byte[] data = Enumerable.Range(0, 4096).Select(i => (byte)i).ToArray();
            int copies = 0;
            var threads = Enumerable.Range(0, 4).Select(t => new Thread(() =>
            {
                for (int round = 0; round < 200; round++)
                {
                    using (var r = new Reader(data, Endian.Little))
                    using (var w = new Writer(0, Endian.Little))
                    {
                        while (r.Remaining() > 0)
                            w.U32(r.U32());
                        if (w.ToArray().SequenceEqual(data))
                            Interlocked.Increment(ref copies);
                    }
                }
            })).ToList();
            threads.ForEach(t => t.Start());
            threads.ForEach(t => t.Join());
            Assert.Equal(800, copies, "exact copies made on 4 threads");
        }
    }
}
