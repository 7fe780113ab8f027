// Document operations of the embedded browser. Every call runs this file first
// (in an isolated world: the page's own scripts neither see nor disturb it) and
// then one expression calling a function of `vexory`, after `vexory.deadline` is
// set: a walk over the document gives up once it is past (the caller no longer
// waits for its answer, and the page must not stay busy for nobody).
var vexory = {
    markStyle: "background-color:rgb(123,236,179)",
    deadline: Infinity,
    maxSourceChars: 32 * 1024 * 1024,

    // Throws once the caller's limit has passed; looked at every 256 steps of a walk.
    checkLimit: function (step) {
        if ((step & 255) === 0 && Date.now() >= vexory.deadline)
            throw new Error("past the limit");
    },

    // Links and image sources written back absolute, then the markup.
    pageSource: function () {
        // Addresses in the text are whole, as the page's links resolve them. The
        // lists are static snapshots (a live collection changed while it is walked
        // costs a walk per element), and only relative addresses are rewritten.
        // The selectors also match SVG's <a href>, whose href is no string but an
        // animated value: those (and anything else without a string address) stay
        // as they are.
        try {
            var links = document.querySelectorAll("a[href], area[href]");
            for (var i = 0; i < links.length; i++) {
                vexory.checkLimit(i);
                var link = links[i];
                var whole = link.href;
                if (typeof whole === "string" && link.getAttribute("href") !== whole)
                    link.setAttribute("href", whole);
            }
            var images = document.querySelectorAll("img[src]");
            for (var k = 0; k < images.length; k++) {
                vexory.checkLimit(k);
                var image = images[k];
                var source = image.src;
                if (typeof source === "string" && image.getAttribute("src") !== source)
                    image.setAttribute("src", source);
            }
        } catch (e) {
            if (Date.now() >= vexory.deadline)
                throw e;
        }
        // A page's markup beyond what the program takes in (a body that inflated to
        // gigabytes) is not handed over at all: the cycle goes without text.
        var html = document.documentElement ? document.documentElement.innerHTML : "";
        return html.length > vexory.maxSourceChars ? "" : html;
    },

    // The element by id; by name (index 0-based, -1 the first); by class token
    // (index 1-based, 0 or less the first).
    click: function (spec, name, index) {
        var element = document.getElementById(spec);
        if (element) {
            element.click();
            return true;
        }
        var named = document.getElementsByName(name);
        if (named.length > 0) {
            var item = index < 0 ? named[0] : named[index];
            if (!item)
                return false;
            item.click();
            return true;
        }
        var all = document.getElementsByTagName("*");
        var count = 0;
        for (var i = 0; i < all.length; i++) {
            vexory.checkLimit(i);
            var tokens = (all[i].getAttribute("class") || "").split(/[ \t\r\n\f]+/);
            for (var t = 0; t < tokens.length; t++) {
                if (tokens[t] !== name)
                    continue;
                count++;
                if (index <= 0 ? count === 1 : count === index) {
                    all[i].click();
                    return true;
                }
            }
        }
        return false;
    },

    selectionText: function () {
        var selection = window.getSelection();
        return selection ? selection.toString() : "";
    },

    clearSelection: function () {
        var selection = window.getSelection();
        if (selection)
            selection.removeAllRanges();
        return true;
    },

    // Next or previous occurrence, selected; wraps once when there was a selection.
    find: function (text, forward) {
        var wrap = vexory.selectionText().length > 0;
        return window.find(text, false, !forward, wrap, false, false, false);
    },

    // Wraps every selected stretch of text in a mark, as a background colour command
    // would; false when nothing could be wrapped.
    mark: function (style) {
        var selection = window.getSelection();
        if (!selection || selection.rangeCount === 0 || selection.toString().length === 0)
            return false;
        var range = selection.getRangeAt(0);
        var nodes = [];
        var root = range.commonAncestorContainer;
        if (root.nodeType === Node.TEXT_NODE) {
            nodes.push(root);
        } else {
            // From the start of the selection to its end only: the common ancestor
            // of two table cells can be a table of a hundred thousand rows.
            var walker = document.createTreeWalker(root, NodeFilter.SHOW_TEXT);
            var first = range.startContainer;
            if (first.nodeType !== Node.TEXT_NODE && first.childNodes[range.startOffset])
                first = first.childNodes[range.startOffset];
            walker.currentNode = first;
            var node = first.nodeType === Node.TEXT_NODE ? first : walker.nextNode();
            for (var w = 0; node; w++, node = walker.nextNode()) {
                vexory.checkLimit(w);
                if (range.comparePoint(node, 0) > 0)
                    break; // begins after the selection's end
                if (range.intersectsNode(node))
                    nodes.push(node);
            }
        }
        var marked = 0;
        for (var i = 0; i < nodes.length; i++) {
            node = nodes[i];
            var start = node === range.startContainer ? range.startOffset : 0;
            var end = node === range.endContainer ? range.endOffset : node.length;
            if (end <= start)
                continue;
            if (start > 0)
                node = node.splitText(start);
            if (end - start < node.length)
                node.splitText(end - start);
            var font = document.createElement("font");
            font.setAttribute("style", style || vexory.markStyle);
            node.parentNode.insertBefore(font, node);
            font.appendChild(node);
            marked++;
        }
        selection.removeAllRanges();
        return marked > 0; // none for text in a form field, whose text is no node of the page
    },

    // The marks of a colour, in the document's order.
    marks: function (colour) {
        var wanted = ("background-color:" + colour).replace(/\s+/g, "").toLowerCase();
        var fonts = document.getElementsByTagName("font");
        var marks = [];
        for (var i = 0; i < fonts.length; i++) {
            vexory.checkLimit(i);
            var f = fonts[i];
            var style = (f.getAttribute("style") || "").replace(/\s+/g, "").toLowerCase().replace(/;$/, "");
            if (f.attributes.length === 1 && style === wanted)
                marks.push(f);
        }
        return marks;
    },

    // Unwraps every mark of a colour; true when one was removed.
    unmark: function (colour) {
        var marks = vexory.marks(colour);
        for (var k = 0; k < marks.length; k++) {
            var m = marks[k];
            var parent = m.parentNode;
            while (m.firstChild)
                parent.insertBefore(m.firstChild, m);
            parent.removeChild(m);
            // The text a mark split is one node again: a later mark of the same
            // text is one field, not one a piece.
            parent.normalize();
        }
        return marks.length > 0;
    },

    // For each mark of a colour, the text of its column's header: the cell at the
    // same place in the table's head row (its last row in a head, else the first of
    // its first three rows with a header cell); "" outside a table, in the head
    // row itself, or in a table without one.
    markHeaders: function (colour) {
        var marks = vexory.marks(colour);
        var headers = [];
        for (var k = 0; k < marks.length; k++)
            headers.push(vexory.headerOf(marks[k]));
        return headers;
    },

    headerOf: function (node) {
        var cell = node.parentElement ? node.parentElement.closest("td, th") : null;
        var row = cell ? cell.parentElement : null;
        var table = row ? row.closest("table") : null;
        if (!table || !row.cells)
            return "";
        var column = 0;
        for (var i = 0; i < row.cells.length && row.cells[i] !== cell; i++)
            column += row.cells[i].colSpan || 1;
        var head = null;
        if (table.tHead && table.tHead.rows.length > 0) {
            head = table.tHead.rows[table.tHead.rows.length - 1];
        } else {
            for (var r = 0; r < table.rows.length && r < 3 && !head; r++)
                for (var c = 0; c < table.rows[r].cells.length; c++)
                    if (table.rows[r].cells[c].tagName === "TH") {
                        head = table.rows[r];
                        break;
                    }
        }
        if (!head || head === row)
            return "";
        for (var h = 0, at = 0; h < head.cells.length; h++) {
            at += head.cells[h].colSpan || 1;
            if (column < at)
                return head.cells[h].textContent.replace(/\s+/g, " ").trim().slice(0, 64);
        }
        return "";
    },

    // Where the selection starts and ends, as offsets into the text of the body;
    // null without a selection. Survives marks being made and removed.
    bookmark: function () {
        var selection = window.getSelection();
        if (!selection || selection.rangeCount === 0 || selection.toString().length === 0 || !document.body)
            return null;
        var range = selection.getRangeAt(0);
        var offset = function (container, at) {
            var r = document.createRange();
            r.setStart(document.body, 0);
            r.setEnd(container, at);
            return r.toString().length;
        };
        return [offset(range.startContainer, range.startOffset), offset(range.endContainer, range.endOffset)];
    },

    // Selects the stretch of a bookmark again.
    restore: function (start, end) {
        if (!document.body)
            return false;
        var walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
        var range = document.createRange();
        var at = 0, started = false, ended = false;
        for (var w = 0; walker.nextNode(); w++) {
            vexory.checkLimit(w);
            var node = walker.currentNode;
            if (!started && start <= at + node.length) {
                range.setStart(node, start - at);
                started = true;
            }
            if (started && end <= at + node.length) {
                range.setEnd(node, end - at);
                ended = true;
                break;
            }
            at += node.length;
        }
        var selection = window.getSelection();
        selection.removeAllRanges();
        if (started && ended)
            selection.addRange(range);
        return started && ended;
    },

    // The text of a download, in an empty body: its line breaks are kept on screen
    // by a style sheet that is no part of the document's markup.
    write: function (html) {
        document.open();
        document.write(html);
        document.close();
        try {
            var sheet = new CSSStyleSheet();
            sheet.replaceSync('body { white-space: pre-wrap; }');
            document.adoptedStyleSheets = [sheet];
        } catch (e) {
        }
        return true;
    }
};
