// ReaderHandle.cs - a native reader and what keeps its bytes in place
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.

using System;
using System.Runtime.InteropServices;
using Microsoft.Win32.SafeHandles;

namespace Tavbin.Core.Handles
{
    // Releasing it closes the reader and then lets go of the bytes it reads (unpins
    // the array or memory, or releases the reader it was cut from), in that order: all
    // belong to this one object, so no finaliser ordering can free the bytes under a
    // live reader.
    sealed class ReaderHandle : SafeHandleZeroOrMinusOneIsInvalid
    {
        GCHandle pinned;
        IDisposable owned;
        ReaderHandle parent;

        // Created by the marshaller when tavbin_open returns.
        public ReaderHandle() : base(true) { }

        internal void Own(GCHandle pin)
        {
            pinned = pin; // counted when it was made
            Checks.Hold(1);
        }

        internal void Own(IDisposable memory)
        {
            owned = memory;
            Checks.Hold(2);
        }

        // A sub-reader keeps the reader it was cut from, and so its bytes, alive.
        internal void Own(ReaderHandle from)
        {
            bool added = false;
            from.DangerousAddRef(ref added);
            parent = from;
            Checks.Hold(2);
        }

        protected override bool ReleaseHandle()
        {
            NativeMethods.tavbin_close(handle);
            int n = 1;
            if (pinned.IsAllocated)
                Checks.Unpin(pinned);
            if (owned != null)
            {
                owned.Dispose();
                n++;
            }
            if (parent != null)
            {
                parent.DangerousRelease();
                n++;
            }
            Checks.Hold(-n);
            return true;
        }
    }
}
