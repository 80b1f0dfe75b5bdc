// WriterHandle.cs - a native writer
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.

using Microsoft.Win32.SafeHandles;

namespace Tavbin.Core.Handles
{
    // Releasing it closes the writer and frees its buffer.
    sealed class WriterHandle : SafeHandleZeroOrMinusOneIsInvalid
    {
        public WriterHandle() : base(true) { }

        internal void Opened() => Checks.Hold(1);

        protected override bool ReleaseHandle()
        {
            NativeMethods.tavbinw_close(handle);
            Checks.Hold(-1);
            return true;
        }
    }
}
