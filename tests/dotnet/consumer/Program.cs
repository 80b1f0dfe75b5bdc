// Writes a record, reads it back through the package's module, and says which module
// file it loaded.
using System;
using System.IO;
using System.Linq;
using Tavbin;

using var w = new Writer();
w.U32(0xCAFEF00D);
w.Sleb128(-300);
w.Array<ushort>(new ushort[] { 1, 2 });
using var r = new Reader(w.ToArray());
Span<ushort> pair = stackalloc ushort[2];
uint magic = r.U32();
long delta = r.Sleb128();
r.Array(pair);
if (magic != 0xCAFEF00D || delta != -300 || pair[0] != 1 || pair[1] != 2)
{
    Console.Error.WriteLine("values do not round-trip");
    return 1;
}
string module = File.ReadLines("/proc/self/maps").Where(l => l.Contains("binary-read-util"))
    .Select(l => l.Substring(l.IndexOf('/'))).First();
Console.WriteLine("loaded " + module);
return 0;
