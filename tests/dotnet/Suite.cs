// Suite.cs - the Mono run's tests and the shared vectors as xunit theories, one case
// each, one at a time (each checks that nothing it opened is still held).

#if XUNIT
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using Tavbin.Core;
using Xunit;

[assembly: CollectionBehavior(DisableTestParallelization = true)]

namespace Tavbin.Tests
{
    public class Suite
    {
        static Suite()
        {
            string source = Setting("TAVBIN_SOURCE_DIR");
            Runner.ExportsPath = Path.Combine(source, "abi", "exports.txt");
            Runner.DeclarationsPath = Setting("TAVBIN_DECLARATIONS");
            Runner.ModulePath = Setting("TAVBIN_LIBRARY");
            Runner.VectorsPath = Environment.GetEnvironmentVariable("TAVBIN_VECTORS") ??
                                 Path.Combine(source, "tests", "vectors", "record.txt");
        }

        static string Setting(string name) =>
            Environment.GetEnvironmentVariable(name) ?? throw new InvalidOperationException(name + " is not set");

        // The vectors run one case per theory row here, not all in one test.
        public static IEnumerable<object[]> Tests() =>
            Runner.Tests().Where(m => m.DeclaringType != typeof(VectorsTest)).Select(m => new object[] { Runner.Name(m) });

        [Theory, MemberData(nameof(Tests))]
        public void Test(string name) => Runner.Run(Runner.Tests().Single(m => Runner.Name(m) == name));

        public static IEnumerable<object[]> Cases() =>
            Vectors.Load(Runner.VectorsPath).Select(c => new object[] { c.Name });

        [Theory, MemberData(nameof(Cases))]
        public void Vector(string name)
        {
            Vectors.Run(Vectors.Load(Runner.VectorsPath).Single(c => c.Name == name));
            Runner.CollectEverything();
            Assert.Equal(0, Checks.Held, "handles and pins still held after the case");
        }
    }
}
#endif
