// Guard.cs - how Reader and Writer keep their handle from being freed, moved or
// used by two threads at once under a running call
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.
//
// Every call enters the guard, makes its C calls and leaves. Entering is one
// interlocked compare-exchange of the state, Idle to Busy; a call that finds Busy
// throws InvalidOperationException (another thread is inside, and the C handle
// must not be used by two threads at once), one that finds Disposed throws
// ObjectDisposedException. Dispose first marks the guard closing, so that a call
// entering from then on backs out with ObjectDisposedException (a thread calling
// in a tight loop cannot keep Dispose waiting), then waits for the running call to
// leave, sets Disposed, and only then frees: a call never runs on a freed handle,
// and a multi-call operation (an array sized from Remaining, then filled) sees no
// other thread move the cursor between its calls.
//
// The interlocked operation costs more than a fixed-width read, so on net8.0 and
// later one thread, the one that used the reader last on its own, may skip it for
// the ten fixed-width reads (Reader.Fixed). The guard names that thread (its Slot,
// found through a thread-static field); the thread marks the guard busy with a
// plain store, then looks again at the name. Another thread that enters the guard
// first takes the name away, then flushes every core's pending writes
// (Interlocked.MemoryBarrierProcessWide, a few microseconds, paid only when the
// reader changes hands) and waits for the mark to go. The flush means either the
// marking thread sees the name gone and takes the guard like anyone else, or the
// other thread sees the mark and waits for the read to end: never both missed.
// Only the named thread writes the mark, so one flag is enough. A thread gets the name back after a run of calls of its own
// (ClaimAfter), so that threads taking turns do not flush on every call.
//
// Under Wine the flush is not there: its FlushProcessWriteBuffers (8.0 at least) is
// a stub that returns at once, and two threads sharing a reader then read the same
// value. Where the process runs on Wine's ntdll, no thread is ever named and every
// call takes the guard.

using System;
#if NET
using System.Runtime.InteropServices;
#endif
using System.Threading;

namespace Tavbin.Core
{
#if NET
    // A thread's name: an object of its own.
    sealed class Slot
    {
        [ThreadStatic]
        static Slot mine;

        // The calling thread's slot, or null if it never took the guard.
        internal static Slot Current => mine;

        internal static Slot Mine => mine ?? (mine = new Slot());

        // The name of no thread: no thread's Current is ever this.
        internal static readonly Slot None = new Slot();
    }
#endif

    struct Guard
    {
        const int Idle = 0, Busy = 1, Disposed = 2;
        int state;
        int closing; // 1 once Dispose has begun
#if NET
        const int ClaimAfter = 16;
        // The thread whose fixed-width reads skip the guard, or Slot.None. Set only
        // inside the guard; Reader keeps it None while a byte is partly read.
        internal Slot fast;
        internal int busy; // 1 while the fast thread's call runs; written by that thread only
        Slot last;  // the thread of the last guarded call
        int streak; // its guarded calls in a row

        // False where MemoryBarrierProcessWide cannot be trusted to flush.
        static readonly bool HandOver = !UnderWine();

        static bool UnderWine() =>
            OperatingSystem.IsWindows() && NativeLibrary.TryLoad("ntdll.dll", out IntPtr ntdll) &&
            NativeLibrary.TryGetExport(ntdll, "wine_get_version", out _);
#endif

        internal void Init(bool fastPath)
        {
#if NET
            fast = fastPath && HandOver ? Slot.Mine : Slot.None;
            last = fast;
#endif
        }

        internal bool IsDisposed => Volatile.Read(ref state) == Disposed;

        // Takes the guard for a call named what (e.g. "Reader.U16"), or throws.
        internal void Enter(string what)
        {
            int s = Interlocked.CompareExchange(ref state, Busy, Idle);
            if (s != Idle)
                throw Refused(s, what);
            if (Volatile.Read(ref closing) != 0)
            {
                Volatile.Write(ref state, Idle);
                throw Refused(Disposed, what);
            }
#if NET
            Slot me = Slot.Mine;
            if (fast != me && fast != Slot.None)
                Revoke();
            if (last != me)
            {
                last = me;
                streak = 0;
            }
#endif
        }

        // Gives the guard back; claim: the fast path may be handed to this thread.
        internal void Leave(bool claim)
        {
#if NET
            if (claim && HandOver && fast == Slot.None && ++streak >= ClaimAfter)
                fast = last;
#endif
            Volatile.Write(ref state, Idle);
        }

#if NET
        // The fast path is nobody's once its thread has left the handle.
        void Revoke()
        {
            Volatile.Write(ref fast, Slot.None);
            Interlocked.MemoryBarrierProcessWide();
            var spin = new SpinWait();
            while (Volatile.Read(ref busy) != 0)
                spin.SpinOnce();
        }
#endif

        // For Dispose: true once the handle may be freed, after the running call (if
        // any) has left and no later one can enter; false if already disposed.
        internal bool Close()
        {
            Volatile.Write(ref closing, 1);
            var spin = new SpinWait();
            for (;;)
            {
                int s = Interlocked.CompareExchange(ref state, Disposed, Idle);
                if (s == Disposed)
                    return false;
                if (s == Idle)
                    break;
                spin.SpinOnce();
            }
#if NET
            // The named thread disposing needs no flush: it is not inside a read of
            // its own. Any other name is taken away as another thread's call takes it.
            if (fast == Slot.Current)
                fast = Slot.None;
            else if (fast != Slot.None)
                Revoke();
#endif
            return true;
        }

        internal void ThrowIfDisposed(string what)
        {
            if (IsDisposed)
                throw Refused(Disposed, what);
        }

        static Exception Refused(int state, string what)
        {
            string type = what.Substring(0, what.IndexOf('.'));
            if (state == Disposed)
                return new ObjectDisposedException(type, what + ": the " + type + " is disposed");
            return new InvalidOperationException(what + ": the " + type + " is in use by another thread; " +
                                                 "one " + type + " must not be used by two threads at once");
        }
    }
}
