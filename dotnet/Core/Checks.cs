// Checks.cs - what Reader, Writer and Library share: arguments checked, pins counted
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.

using System;
using System.Runtime.InteropServices;
using System.Threading;

namespace Tavbin.Core
{
    static class Checks
    {
        // Native handles and pins held by this binding, all kinds together: every open
        // and every pin counts one up, its release one down, so the tests can tell
        // that nothing is kept beyond its owner.
        static int held;
        internal static int Held => Volatile.Read(ref held);
        internal static void Hold(int n) => Interlocked.Add(ref held, n);

        // Every pin of the caller's memory goes through these two, so that it counts.
        internal static GCHandle Pin(object array)
        {
            GCHandle pin = GCHandle.Alloc(array, GCHandleType.Pinned);
            Hold(1);
            return pin;
        }

        internal static void Unpin(GCHandle pin)
        {
            pin.Free();
            Hold(-1);
        }

        // A count or offset given as an int: never negative.
        internal static ulong Count(int n, string name)
        {
            if (n < 0)
                throw new ArgumentOutOfRangeException(name, n, "a negative " + name);
            return (ulong)n;
        }
    }
}
