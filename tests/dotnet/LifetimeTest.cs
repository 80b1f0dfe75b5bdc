// LifetimeTest.cs - pinning, disposal and finalisation of the handles, and handles
// on several threads.

using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Runtime.InteropServices;
using System.Threading;

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

        // An open that fails lets go of the array at once.
        [Test]
        static void FailedOpenUnpins()
        {
            WeakReference array = OnAnotherThread(() =>
            {
                var data = new byte[] { 1, 2, 3 };
                try { new Reader(data, (Endian)2); }
                catch (TavbinException) { }
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
            r.Dispose();
            w.Dispose();
            r.Dispose();
            w.Dispose();
            var calls = new Action[]
            {
                () => r.U8(), () => r.I64(), () => r.F64(), () => r.Bits(3), () => r.Leb128(), () => r.Bytes(1),
                () => r.Ascii(0), () => r.StringU32(), () => r.Skip(1), () => r.PeekU32(), () => r.U64At(0),
                () => r.Seek(0), () => r.Tell(), () => r.Remaining(), () => r.BitAlign(),
                () => r.SetEndian(Endian.Big), () => { var x = r.Size; }, () => { var x = r.LastError; },
                () => w.U8(1), () => w.F32(1), () => w.Leb128(1), () => w.Bytes(new byte[1]),
                () => w.StringU32(new byte[0]), () => w.ToArray(), () => w.SetEndian(Endian.Little),
                () => { var x = w.Length; }, () => { var x = w.LastError; },
            };
            for (int i = 0; i < calls.Length; i++)
                Assert.Throws<ObjectDisposedException>(calls[i], "call " + i + " after Dispose");
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
            long growth = 0;
            for (int pass = 0; pass < 2; pass++)
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
                growth = inUse() - before;
            }
            Assert.True(growth < 256 * 1024, "the module's memory grew by " + growth + " bytes");
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
