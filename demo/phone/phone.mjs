// The phone's side of the walk: Debian's Chromium at a phone's size, driven
// through the DevTools protocol, meets zorvid's pages as an owner would.
//
//   node phone.mjs pair URL OUT STORAGE
//     opens the address that the reader's QR code carries, confirms the code
//     it fills in, sees the library, searches it, downloads a book and
//     compares its bytes with the file under STORAGE; keeps the browser's
//     cookies in OUT/phone-state.json
//   node phone.mjs refused ORIGIN OUT DOWNLOAD
//     the same browser after the reader disconnected it: the library is gone,
//     and so is the download at the path DOWNLOAD that worked before
//
// Screenshots go to OUT; the last line of output is a JSON object of what was
// seen. Any expectation that fails ends it with status 1.
import { chromium } from "playwright-core";
import { readFileSync } from "node:fs";
import { join } from "node:path";

const phone = {
    viewport: { width: 390, height: 844 },
    deviceScaleFactor: 2,
    isMobile: true,
    hasTouch: true,
    locale: "en-US",
    userAgent: "Mozilla/5.0 (Linux; Android 14; Pixel 7 Build/UQ1A.240205.004) " +
        "AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0.0.0 Mobile Safari/537.36",
    acceptDownloads: true,
};

function expect(condition, what) {
    if (!condition)
        throw new Error(what);
}

// Chromium as root, in a network that reaches nothing but the reader.
async function launch() {
    return chromium.launch({
        executablePath: process.env.ZORVI_CHROMIUM || "/usr/bin/chromium",
        args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync"],
    });
}

// Every message the console shows in red: a script that failed, or anything
// the page's content policy refused.
function watchConsole(page, errors) {
    page.on("console", (message) => {
        if (message.type() === "error")
            errors.push(message.text());
    });
    page.on("pageerror", (error) => errors.push(String(error)));
}

async function pair(url, out, storage) {
    const browser = await launch();
    const seen = {};
    try {
        const context = await browser.newContext(phone);
        const page = await context.newPage();
        const errors = [];
        watchConsole(page, errors);

        await page.goto(url);
        const code = decodeURIComponent(new URL(url).hash.slice(1));
        expect(await page.inputValue("#code") === code, "the page did not take the code from the address");
        expect(await page.inputValue("#name") === "Pixel 7", "the name is not the phone's");
        await page.screenshot({ path: join(out, "phone-1-pairing.png") });

        await page.fill("#name", "Ana's phone");
        await Promise.all([page.waitForURL(new URL("/", url).href), page.tap("button[type=submit]")]);
        expect(await page.textContent("h1") === "Library", "pairing did not lead to the library");
        seen.summary = (await page.textContent(".summary")).trim();
        seen.shown = await page.locator(".books li").count();
        await page.screenshot({ path: join(out, "phone-2-dashboard.png") });

        await page.fill("input[name=q]", "Émile");
        await Promise.all([page.waitForURL(/q=/), page.press("input[name=q]", "Enter")]);
        seen.found = await page.locator(".books h2").allTextContents();
        expect(seen.found.length === 1, "the search did not find the one book");
        await page.screenshot({ path: join(out, "phone-3-search.png") });

        const [download] = await Promise.all([page.waitForEvent("download"), page.tap(".download")]);
        const bytes = readFileSync(await download.path());
        seen.downloaded = download.suggestedFilename();
        seen.bytes = bytes.length;
        expect(bytes.equals(readFileSync(join(storage, "Books", seen.downloaded))),
            "the download differs from the book's file");
        seen.downloadUrl = new URL(download.url()).pathname + new URL(download.url()).search;

        // A book's highlights and notes, and their export as Markdown: the
        // file is named after the book and holds its title and highlights.
        await page.goto(new URL("/", url).href);
        const book = page.locator(".books li", { has: page.locator("a.count") }).first();
        // Not every book has some: the pages are turned until one has.
        for (let turns = 0; await book.count() === 0 && turns < 10; ++turns)
            await Promise.all([page.waitForURL(/page=/), page.locator("a[rel=next]").tap()]);
        seen.notesOf = (await book.locator("h2").textContent()).trim();
        seen.notesCount = (await book.locator("a.count").textContent()).trim();
        await Promise.all([page.waitForURL(/highlights/), book.locator("a.count").tap()]);
        seen.notesShown = await page.locator("ol.highlights li").count();
        expect(seen.notesShown > 0, "the book's highlights page shows none");
        await page.screenshot({ path: join(out, "phone-6-highlights.png"), fullPage: true });
        const [markdown] = await Promise.all([page.waitForEvent("download"),
            page.locator("a.export[href*='.md']").tap()]);
        seen.exported = markdown.suggestedFilename();
        const exported = readFileSync(await markdown.path(), "utf8");
        expect(seen.exported.endsWith(".md") && exported.includes(seen.notesOf),
            "the Markdown export is not the book's");
        seen.exportedLines = exported.split("\n").length;

        // The same library as a browser set to Hebrew sees it.
        const hebrew = await browser.newContext({ ...phone, locale: "he-IL",
            storageState: await context.storageState() });
        const rtl = await hebrew.newPage();
        watchConsole(rtl, errors);
        await rtl.goto(new URL("/?sort=title", url).href);
        expect(await rtl.getAttribute("html", "dir") === "rtl", "the Hebrew page is not right to left");
        await rtl.screenshot({ path: join(out, "phone-4-hebrew.png") });

        expect(errors.length === 0, "the console shows errors: " + errors.join("; "));
        await context.storageState({ path: join(out, "phone-state.json") });
    } finally {
        await browser.close();
    }
    return seen;
}

async function refused(origin, out, downloadPath) {
    const browser = await launch();
    const seen = {};
    try {
        const context = await browser.newContext({ ...phone, storageState: join(out, "phone-state.json") });
        const page = await context.newPage();
        await page.goto(new URL("/", origin).href);
        seen.landedOn = new URL(page.url()).pathname;
        expect(seen.landedOn === "/pair", "a disconnected browser still sees the library");
        await page.screenshot({ path: join(out, "phone-5-refused.png") });
        const state = JSON.parse(readFileSync(join(out, "phone-state.json"), "utf8"));
        const cookie = state.cookies.find((c) => c.name === "zorvi_device");
        expect(cookie && cookie.httpOnly && cookie.sameSite === "Strict", "the token's cookie is not as set");
        const book = await context.request.get(new URL(downloadPath, origin).href);
        seen.download = book.status();
        expect(seen.download === 404, "a disconnected browser can still download");
    } finally {
        await browser.close();
    }
    return seen;
}

const [command, ...rest] = process.argv.slice(2);
try {
    const seen = command === "pair" ? await pair(...rest) : command === "refused" ? await refused(...rest) : null;
    expect(seen, "usage: phone.mjs pair URL OUT STORAGE | refused ORIGIN OUT DOWNLOAD");
    console.log(JSON.stringify(seen));
} catch (error) {
    console.log(JSON.stringify({ error: error.message }));
    process.exit(1);
}
